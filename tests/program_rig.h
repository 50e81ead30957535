#pragma once

// The program in this process (ProgramRig) or as a process of its own (ProgramCopy,
// RunningProgram).

#include "app/program.h"
#include "core/inifile.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/engine.h"
#include "tests/support/files.h"
#include "tests/support/launch.h"
#include "tests/support/qtapp.h"
#include "tests/support/recording.h"
#include "tests/support/scratchfs.h"
#include "tests/support/tracedcalls.h"
#include "ui/mainwindow.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace kw::apptest {

using namespace kw::test;

// The folder name in dir, made, with the slash the settings' folders end with.
inline QString folderIn(const QTemporaryDir& dir, const QString& name) {
    const QString path = dir.path() + QLatin1Char('/') + name + QLatin1Char('/');
    fs::makePath(path);
    return path;
}

// The log file's lines without their stamps, up to the empty lines that end a session.
inline QStringList logLines(const QString& logFile) {
    static const QRegularExpression stamp(QStringLiteral("^[\\d./:]{19} -> "));
    static const QRegularExpression sessionEnd(QStringLiteral("(\r\n){0,2}\\z"));
    const QString text = QString::fromUtf8(bytesOf(logFile)).remove(sessionEnd);
    return text.split(QLatin1String("\r\n")).replaceInStrings(stamp, QString());
}

// Every entry of folder with size, time and hash; the log only withLog (a running program's).
inline QStringList folderSnapshot(const QString& folder, bool withLog) {
    QStringList entries;
    for (const QString& name : fs::namesStartingWith(folder, QString())) {
        const auto facts = fs::facts(folder + name);
        if (!facts || (!withLog && name.contains(QLatin1String("Kopierwart.Log"))))
            continue;
        entries.append(name + QLatin1Char(' ') + QString::number(facts->size) + QLatin1Char(' ') +
                       QString::number(facts->modifiedNs) + QLatin1Char(' ') +
                       QString::number(qHash(bytesOf(folder + name))));
    }
    entries.sort();
    return entries;
}

// A program with its data in a fresh folder, on a recording desktop unless asked for the real one.
struct ProgramRig {
    ProgramRig() { ensureApplication(); }
    ~ProgramRig() {  // a tick still running holds the engine
        if (program)
            waitUntil([this] { return !program->engine().ScanBusy(); });
    }

    QString ini() const { return dataFolder + QLatin1String("Kopierwart.ini"); }
    QString log() const { return dataFolder + QLatin1String("Kopierwart.Log"); }
    QString folder(const QString& name) const { return folderIn(dir, name); }
    void setting(const QString& key, const QString& to) { WriteIniValue(ini(), key, key, to); }
    template <typename T>
    T* control(const QString& name) {
        return program->window().findChild<T*>(name);
    }

    // beforeLoad runs once the program, with its engine, is made and before it starts up.
    Program& start(bool realDesktop = false, const std::function<void()>& beforeLoad = {}) {
        program = std::make_unique<Program>(StartOptions{dataFolder + QLatin1String("Kopierwart"),
                                                         dataFolder, true, downloads, shippedSound},
                                            realDesktop ? nullptr : &desktop, [this] { ++ended; });
        waitUntil(test::fileWorkThreadNamed);  // traces find the file work by its thread's name
        if (beforeLoad)
            beforeLoad();
        program->Form_Load();  // the start-up goes on while events run
        waitUntil([this] { return program->started() || program->closing(); }, 60'000);
        return *program;
    }

    QTemporaryDir dir;
    QString dataFolder = folder(QStringLiteral("data"));
    QString downloads = dir.path() + QLatin1String("/Downloads");
    QString shippedSound;  // the installed sound a first start copies; none by default
    test::RecordingDesktop desktop;
    int ended = 0;
    std::unique_ptr<Program> program;
};

// A program whose two folders are set, the given files waiting in the watched one.
struct FoldersRig : ProgramRig {
    explicit FoldersRig(const QStringList& waiting = {}) {
        setting(QStringLiteral("Source"), source);
        setting(QStringLiteral("Destination"), destination);
        for (const QString& name : waiting)
            writeBytes(source + name, "content of " + name.toUtf8());
    }
    QString source = folder(QStringLiteral("watched"));
    QString destination = folder(QStringLiteral("moved"));
};

inline const QString kStartedLine = QStringLiteral("Starting P2Pfinder.....");

// The built program copied into a folder (its data folder), started there as "./Kopierwart", so
// the folder may have a name Qt cannot spell.
struct ProgramCopy {
    explicit ProgramCopy(const QString& folder) : folder(folder) {
        fs::replaceAtomically(
            program(), bytesOf(qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Kopierwart"));
        ::chmod(encodeLocal(program()).constData(), 0755);
    }
    QString program() const { return folder + QLatin1String("Kopierwart"); }
    QString log() const { return folder + QLatin1String("Kopierwart.Log"); }
    QString ini() const { return folder + QLatin1String("Kopierwart.ini"); }
    void setting(const QString& key, const QString& to) const {
        WriteIniValue(ini(), key, key, to);
    }
    bool start(QProcess& process, Launch how = {}) const {
        how.command = QStringList{QStringLiteral("./Kopierwart")};
        how.folder = folder;
        return launch(process, how);
    }
    // Until the start-up has run through count times in all.
    bool waitStarted(int count = 1, int timeoutMs = 20'000) const {
        return waitUntil([&] { return logLines(log()).count(kStartedLine) >= count; }, timeoutMs);
    }

    const QString folder;
};

// The real program beside "in" and "out", a tick a second, the least quiet time; SIGTERM to end.
struct RunningProgram {
    RunningProgram() : program(dir.path() + QLatin1Char('/')) {
        ensureApplication();
        setting(QStringLiteral("Source"), source);
        setting(QStringLiteral("Destination"), destination);
        setting(QStringLiteral("Intervall"), QStringLiteral("1"));
        setting(QStringLiteral("Ruhezeit"), QStringLiteral("2"));
    }
    ~RunningProgram() { stop(); }

    QString ini() const { return program.ini(); }
    QString log() const { return program.log(); }
    QString folder(const QString& name) const { return folderIn(dir, name); }
    void setting(const QString& key, const QString& to) { program.setting(key, to); }
    QStringList lines() const { return logLines(log()); }

    void start(const QStringList& wrapper = {},
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        program.start(process, {.environment = environment, .wrapper = wrapper});
    }
    bool waitStarted(int timeoutMs = 20'000) { return program.waitStarted(1, timeoutMs); }
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
        if (!terminate(10'000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // A tmpfs over the destination, so that moves copy; false with why.
    bool destinationOnTmpfs(qint64 bytes, QString* why) {
        m_tmpfs = ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, destination, bytes, why);
        return m_tmpfs != nullptr;
    }

    QTemporaryDir dir;
    ProgramCopy program;
    QProcess process;
    const QString source = folder(QStringLiteral("in"));
    const QString destination = folder(QStringLiteral("out"));

private:
    std::unique_ptr<ScratchFileSystem> m_tmpfs;
};

}  // namespace kw::apptest
