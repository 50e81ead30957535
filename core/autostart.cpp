#include "core/autostart.h"

#include "platform/fs.h"
#include "platform/pathname.h"

#include <cerrno>

namespace kw {
namespace {

constexpr char kEntryName[] = "kopierwart.desktop";

// A value of type string: backslash and the control characters it can escape are escaped, any
// other control character makes the value impossible.
std::optional<QString> escapeString(const QString& value) {
    QString escaped;
    for (const QChar c : value) {
        if (c == u'\\')
            escaped += QLatin1String("\\\\");
        else if (c == u'\n')
            escaped += QLatin1String("\\n");
        else if (c == u'\t')
            escaped += QLatin1String("\\t");
        else if (c == u'\r')
            escaped += QLatin1String("\\r");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.isSurrogate())
            return std::nullopt;  // a surrogate here stands for a byte that is not UTF-8
        else
            escaped += c;
    }
    return escaped;
}

// One argument of Exec: quoted, with the characters that stay special inside quotes escaped,
// and "%" doubled so that it is no field code.
QString quoteArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
        if (c == u'%')
            quoted += u'%';
    }
    return quoted + u'"';
}

// The value of key in the entry's main group, empty when it is not there.
QString valueOf(const QString& entry, const QString& key) {
    bool inMainGroup = false;
    for (const QString& raw : entry.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'['))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.section(u'=', 0, 0).trimmed() == key)
            return line.section(u'=', 1).trimmed();
    }
    return {};
}

}  // namespace

QString autostartFolder(const QString& configHome, const QString& home) {
    const QString config =
        configHome.startsWith(u'/') ? configHome : home + QLatin1String("/.config");
    return config + QLatin1String("/autostart/");
}

std::optional<QByteArray> autostartEntry(const QString& executablePath) {
    const std::optional<QString> exec = escapeString(quoteArgument(executablePath));
    const std::optional<QString> tryExec = escapeString(executablePath);
    if (!exec || !tryExec)
        return std::nullopt;
    // TryExec lets the session skip the entry quietly once the program is uninstalled.
    const QString entry = QStringLiteral(
                              "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Kopierwart\n"
                              "Comment=Keeps the upload folder empty\n"
                              "Comment[de]=Hält das Upload-Verzeichnis leer\n"
                              "Icon=kopierwart\n"
                              "Exec=") +
                          *exec + QLatin1String("\nTryExec=") + *tryExec +
                          QLatin1String("\nTerminal=false\n");
    return entry.toUtf8();
}

Autostart::Autostart(const QString& folder, const QString& executablePath)
    : m_entryPath(folder + QLatin1String(kEntryName)), m_executablePath(executablePath) {}

bool Autostart::enabled() const {
    const std::optional<QByteArray> bytes = fs::readAll(m_entryPath);
    if (!bytes)
        return false;
    const QString entry = QString::fromUtf8(*bytes);
    return valueOf(entry, QStringLiteral("Hidden")) != QLatin1String("true") &&
           valueOf(entry, QStringLiteral("X-GNOME-Autostart-enabled")) != QLatin1String("false");
}

int Autostart::enable() {
    const std::optional<QByteArray> entry = autostartEntry(m_executablePath);
    if (!entry)
        return EILSEQ;
    if (const int error = fs::makePath(PathName(m_entryPath).parentFolder().text()))
        return error;
    return fs::replaceAtomically(m_entryPath, *entry);
}

int Autostart::disable() {
    const int error = fs::removeFile(m_entryPath);
    return fs::problemOf(error) == fs::Problem::Missing ? 0 : error;
}

}  // namespace kw
