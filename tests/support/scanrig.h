#pragma once

#include "core/eventlog.h"
#include "core/settings.h"
#include "scan/engine.h"
#include "tests/support/recording.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace kw::test {

// Ticks yield to the event loop, so the tests of the cycle need an application object.
void ensureCoreApplication();

// Lets events run until condition holds or the deadline passes; answers the condition.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

// Reading and writing files by their byte names (no Qt file classes, which would mangle them).
QByteArray readBytes(const QString& path);
void writeBytes(const QString& path, const QByteArray& bytes);
void appendBytes(const QString& path, const QByteArray& bytes);
// Every entry of folder, hidden ones included, sorted.
QStringList entriesOf(const QString& folder);
// count bytes that differ from file to file (seeded by seed).
QByteArray patternBytes(qint64 count, int seed = 1);

// A small tmpfs mounted on folder for as long as it lives, to fill a disk for real.
class TmpfsMount {
public:
    TmpfsMount(const QString& folder, const QString& size);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    // False where this process may not mount (not root, or in a container that forbids it).
    bool mounted() const { return m_mounted; }

private:
    QString m_folder;
    bool m_mounted = false;
};

// A watched folder, a destination folder and a data folder in a fresh temporary folder, the
// settings of a fresh installation pointing at them, a log with a recording debug window, a
// recording desktop and an engine over all of it.
class ScanRig {
public:
    ScanRig();
    // Removes the files of both folders by their byte names, which QTemporaryDir cannot.
    ~ScanRig();

    QString sourcePath(const QString& name) const { return source + name; }
    QString destinationPath(const QString& name) const { return destination + name; }
    // The texts of the log lines since the last call, without their stamps.
    QStringList takeLog();

private:
    struct ApplicationFirst {
        ApplicationFirst() { ensureCoreApplication(); }
    } m_application;

public:
    QTemporaryDir dir;
    QString source;       // ends with "/"
    QString destination;  // ends with "/"
    AppData data;
    EventLog log;
    RecordingDebugWindow window;
    RecordingDesktop desktop;
    ScanEngine engine;

private:
    qsizetype m_taken = 0;
};

}  // namespace kw::test
