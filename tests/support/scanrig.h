#pragma once

#include "core/eventlog.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "scan/engine.h"
#include "tests/support/recording.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace kw::test {

// Files by their byte names (Qt's file classes would mangle names that are not UTF-8).
inline QByteArray readBytes(const QString& path) {
    return fs::readAll(path).value_or(QByteArray());
}
inline void writeBytes(const QString& path, const QByteArray& bytes) {
    fs::removeFile(path);
    fs::append(path, bytes);
}
// Every entry of folder, hidden ones included, sorted.
QStringList entriesOf(const QString& folder);
// count bytes without a repeating pattern, so that a misplaced chunk shows.
QByteArray patternBytes(qint64 count);

// A watched, a destination and a data folder in a fresh temporary folder, settings pointing at
// them, a log into a recording debug window, a recording desktop and an engine over all of it.
class ScanRig {
public:
    ScanRig();
    // Removes the files of both folders by their byte names, which QTemporaryDir cannot.
    ~ScanRig();

    QString in(const QString& name) const { return source + name; }
    QString out(const QString& name) const { return destination + name; }
    // Puts the destination folder on a file system of its own, so that moves copy: a tmpfs of
    // size mounted over it where this user may mount (unmounted when the rig ends), else a folder
    // in /dev/shm when that is another file system. False when neither can be had.
    bool destinationOnOtherFileSystem(const QString& size = QStringLiteral("64m"));
    // Runs one tick and answers takeLog().
    QStringList tick();
    // The texts of the log lines since the last call, without their stamps.
    QStringList takeLog();

    QTemporaryDir dir;
    QString source = dir.path() + QStringLiteral("/in/");
    QString destination = dir.path() + QStringLiteral("/out/");
    AppData data;
    EventLog log;
    RecordingDebugWindow window;
    RecordingDesktop desktop;
    ScanEngine engine;

private:
    bool m_mounted = false;
    std::unique_ptr<QTemporaryDir> m_sharedMemoryDir;
};

}  // namespace kw::test
