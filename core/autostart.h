#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace kw {

// The user's autostart folder, read by desktop sessions at log-in: configHome + "/autostart/"
// when configHome ($XDG_CONFIG_HOME) is an absolute path, else home + "/.config/autostart/".
QString autostartFolder(const QString& configHome, const QString& home);

// The desktop entry that starts executablePath with the session; nullopt when the path cannot
// stand in a desktop entry (bytes that are not UTF-8, or control characters).
std::optional<QByteArray> autostartEntry(const QString& executablePath);

// The program's own entry in an autostart folder, "kopierwart.desktop".
class Autostart {
public:
    Autostart(const QString& folder, const QString& executablePath);

    QString entryPath() const { return m_entryPath; }
    // The entry is there and the session runs it: neither hidden nor switched off by the
    // session's own settings.
    bool enabled() const;
    // Writes the entry, replacing a switched-off one; creates the folder when missing.
    // 0 or errno; EILSEQ for a program path that a desktop entry cannot hold.
    int enable();
    // Removes the entry. 0 when it is gone, also when it never was there; else errno.
    int disable();

private:
    QString m_entryPath;
    QString m_executablePath;
};

}  // namespace kw
