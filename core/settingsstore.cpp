#include "core/settingsstore.h"

#include "core/germanformat.h"
#include "core/inifile.h"
#include "platform/fs.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace kw {
namespace {

std::optional<qint32> toInt32(const QString& text) {
    const std::optional<qint64> value = parseInteger(text);
    if (!value || *value < std::numeric_limits<qint32>::min() ||
        *value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(*value);
}

}  // namespace

void SettingsStore::load() {
    m_my.ControlColor = toInt32(read("Color")).value_or(0);
    m_my.Source = read("Source");
    m_my.Destination = read("Destination");
    m_my.SoundFile = read("Sound");
    m_my.ScanInterval = toInt32(read("Intervall")).value_or(0);
    m_my.SavedMegabytes = parseDecimal(read("MB")).value_or(0.0);
    m_my.SavedFileCount = parseInteger(read("Fl")).value_or(0);
    // Set by hand only; a value out of range is no reason to move a file sooner.
    const qint32 quiet = toInt32(read("Ruhezeit")).value_or(kDefaultQuietSeconds);
    m_my.QuietSeconds = quiet < 1 ? kDefaultQuietSeconds : std::min(quiet, kMaxQuietSeconds);
}

QString SettingsStore::storedScanInterval() const {
    return read("Intervall");
}

void SettingsStore::setSource(const QString& folder) {
    set(m_my.Source, "Source", folder);
}

void SettingsStore::setDestination(const QString& folder) {
    set(m_my.Destination, "Destination", folder);
}

void SettingsStore::setScanInterval(int seconds) {
    m_my.ScanInterval = seconds;
    write("Intervall", QString::number(seconds));
}

void SettingsStore::setSoundFile(const QString& file) {
    set(m_my.SoundFile, "Sound", file);
}

void SettingsStore::setControlColor(qint32 color) {
    m_my.ControlColor = color;
    write("Color", QString::number(color));
}

void SettingsStore::resetStatistics() {
    m_my.SavedMegabytes = 0;
    m_my.SavedFileCount = 0;
    storeStatistics();
}

void SettingsStore::countSavedFile(qint64 size) {
    ++m_my.SavedFileCount;
    const double sum = m_my.SavedMegabytes + roundHalfEven(double(size) / 1024.0 / 1024.0, 2);
    // Kept as the file shows it, so that rounding errors cannot add up over many files.
    m_my.SavedMegabytes = parseDecimal(decimalText(sum)).value_or(sum);
}

void SettingsStore::storeStatistics() {
    write("MB", decimalText(m_my.SavedMegabytes));
    write("Fl", QString::number(m_my.SavedFileCount));
}

void SettingsStore::set(QString& field, const char* key, const QString& value) {
    field = value;
    write(key, value);
}

void SettingsStore::write(const char* key, const QString& value) {
    WriteIniValue(m_my.INI, QLatin1String(key), QLatin1String(key), value);
}

QString SettingsStore::read(const char* key) const {
    return ReadIniValue(m_my.INI, QLatin1String(key), QLatin1String(key));
}

int DeleteCopiedFile(const QString& path) {
    // Whatever stands under the name now (a file, a link, a folder put there since) is checked,
    // so a line disappears only when its name really is free.
    if (!fs::facts(path))
        return 0;
    return fs::removeFile(path);
}

}  // namespace kw
