#include "scan/record.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "scan/register.h"

#include <algorithm>

namespace kw {
Record::Record(AppData& data, EventLog& log, Desktop& desktop)
    : m_data(data), m_log(log), m_desktop(desktop) {}

void Record::recordMove(const QString& soundFile, const QString& sourcePath,
                        const QString& destinationPath, qint64 size, const QDateTime& created) {
    Settings& my = m_data.My;
    const QString key = CopyKey(sourcePath, size, created);
    if (!soundFile.isEmpty())
        m_desktop.PlaySoundFile(1, soundFile);
    // The file is safe in the destination either way, and a register hit alone deletes nothing,
    // so a register that cannot be written costs only its line; that must not go unnoticed.
    if (!AppendToFile(my.CopyListFile, key))
        m_log.WriteLog(QLatin1String("Can't write '") + sourcePath +
                       QLatin1String("' into the register '") + my.CopyListFile +
                       QLatin1Char('\''));
    m_data.CopiedFiles.append(key);
    SettingsStore(my).countSavedFile(size);
    Q_EMIT statisticsChanged(StatisticsCaption(my.SavedFileCount, my.SavedMegabytes));
    m_statisticsUnwritten = true;
    addToLBfiles(destinationPath);
}

void Record::writeStatistics() {
    if (!m_statisticsUnwritten)
        return;
    SettingsStore(m_data.My).storeStatistics();
    m_statisticsUnwritten = false;
}

void Record::addToLBfiles(const QString& destinationPath) {
    // The list stays in alphabetical order, so a burst finds each place by halving.
    const auto [position, end] = std::equal_range(
        m_LBfiles.begin(), m_LBfiles.end(), destinationPath,
        [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    if (std::find(position, end, destinationPath) != end)
        return;
    const auto row = int(position - m_LBfiles.begin());
    m_LBfiles.insert(position, destinationPath);
    Q_EMIT copiedFileAdded(row, destinationPath);
}

}  // namespace kw
