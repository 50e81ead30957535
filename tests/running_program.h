#pragma once

// The real program as a process of its own in a fresh folder, with its two folders set, run
// under a wrapper (strace, setpriv) or with an environment of the test's, and ended by SIGTERM
// when the test ends, whichever way.

#include "tests/program_rig.h"
#include "tests/support/scratchfs.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include <sys/types.h>

namespace kw::apptest {

struct RunningProgram {
    // Settings name the folders "in" and "out" beside the program, with a tick a second.
    RunningProgram() : program(dir.path() + QLatin1Char('/')) {
        ensureApplication();
        setting(QStringLiteral("Source"), source);
        setting(QStringLiteral("Destination"), destination);
        setting(QStringLiteral("Intervall"), QStringLiteral("1"));
        // The least quiet time: files no writer of which can be seen wait as long as they did
        // before there was one.
        setting(QStringLiteral("Ruhezeit"), QStringLiteral("2"));
    }
    ~RunningProgram() { stop(); }

    QString ini() const { return program.folder + QLatin1String("Kopierwart.ini"); }
    QString log() const { return program.log(); }
    QString copyList() const { return program.folder + QLatin1String("Kopierwart.Copy"); }
    QString folder(const QString& name) const { return folderIn(dir, name); }
    void setting(const QString& key, const QString& to) { WriteIniValue(ini(), key, key, to); }

    // Starts "./Kopierwart" in its folder, after the wrapper's command line when one is given.
    void start(const QStringList& wrapper = {},
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        process.setProcessEnvironment(environment);
        process.setChildProcessModifier([bytes = encodeLocal(program.folder)] {
            if (::chdir(bytes.constData()) != 0)
                ::_exit(127);
        });
        if (wrapper.isEmpty())
            process.start(QStringLiteral("./Kopierwart"), {});
        else
            process.start(wrapper.first(), wrapper.mid(1) + QStringList{"./Kopierwart"});
    }
    // True once the start-up sequence has run through.
    bool waitStarted(int timeoutMs = 20'000) {
        return waitUntil(
            [&] { return logLines(log()).contains(QStringLiteral("Starting P2Pfinder.....")); },
            timeoutMs);
    }
    // The program's own process: the wrapper's child where the wrapper stays (strace).
    pid_t pid() const {
        const pid_t top = pid_t(process.processId());
        const pid_t child = childOf(top);
        const QByteArray comm = bytesOf(QStringLiteral("/proc/%1/comm").arg(top)).trimmed();
        return comm == "strace" && child > 0 ? child : top;
    }
    // SIGTERM, as a session's end sends it; answers whether it ended within timeoutMs.
    bool terminate(int timeoutMs) {
        if (process.state() == QProcess::NotRunning)
            return true;
        ::kill(pid(), SIGTERM);
        return process.waitForFinished(timeoutMs);
    }
    void stop() {
        if (process.state() == QProcess::NotRunning)
            return;
        if (!terminate(10'000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QStringList lines() const { return logLines(log()); }
    // Mounts a tmpfs over the destination, so that moves copy; false with the reason in why.
    bool destinationOnTmpfs(qint64 bytes, QString* why) {
        m_tmpfs = ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, destination, bytes, why);
        return m_tmpfs != nullptr;
    }
    // The same, for a program to be run under strace: false also where strace cannot trace.
    bool destinationOnTmpfsTraced(qint64 bytes, QString* why) {
        if (!destinationOnTmpfs(bytes, why))
            return false;
        if (runProgram("strace", {"-o", "/dev/null", "true"}).isEmpty())
            return true;
        *why = QStringLiteral("strace cannot trace here");
        return false;
    }

    QTemporaryDir dir;
    ProgramProcess program;
    QProcess process;
    const QString source = folder(QStringLiteral("in"));
    const QString destination = folder(QStringLiteral("out"));

private:
    std::unique_ptr<ScratchFileSystem> m_tmpfs;
};

}  // namespace kw::apptest
