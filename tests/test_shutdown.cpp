#include "core/inifile.h"
#include "platform/signals.h"
#include "scan/bincopy.h"
#include "tests/program_rig.h"
#include "tests/running_program.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scratchfs.h"
#include "tests/support/tracedcalls.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>

#include <csignal>
#include <utility>

using namespace kw;
using namespace kw::apptest;

TEST(Termination, EachSignalRunsTheNormalShutdownAndLogsTaskManager) {
    ensureApplication();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QTemporaryDir dir;
        ProgramProcess program(dir.path() + "/");
        QProcess process;
        program.start(process);
        ASSERT_TRUE(
            waitUntil([&] { return logLines(program.log()).contains("Starting P2Pfinder....."); }));
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitCode(), 0) << signal;
        const QStringList log = logLines(program.log());
        EXPECT_EQ(log.mid(log.size() - 6),
                  QStringList({"Form_QueryUnload(UnloadMode = vbAppTaskManager (3)",
                               "Closing Timer...", "*** Closing Kopierwart ***", "", "", ""}));
    }
}

// The X server dies with the session while a burst moves (each deletion slowed by strace): the
// toolkit ends the process from its own handler, and still every source that is gone has its
// deletion line in the log.
TEST(Termination, TheXServerDyingDuringABurstLeavesEveryDeletionInTheLog) {
    XvfbServer x;
    if (const QString failed = x.start(); !failed.isEmpty())
        KW_CANNOT_RUN(failed.toStdString());
    RunningProgram rig;
    QString why;
    if (!rig.destinationOnTmpfsTraced(16 << 20, &why))
        KW_CANNOT_RUN(why.toStdString());
    // Few enough that the capped log holds every line of the burst.
    QStringList names;
    for (int i = 0; i < 100; ++i) {
        names.append(QString("burst%1.bin").arg(i));
        ASSERT_EQ(fs::replaceAtomically(rig.source + names.last(), names.last().toUtf8()), 0);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromLatin1(x.display));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    rig.start({"strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=unlinkat", "-e",
               "inject=unlinkat:delay_enter=20000"},
              environment);
    ASSERT_TRUE(waitUntil([&] { return !fs::facts(rig.source + names.first()); }, 30'000));
    x.process->kill();
    ASSERT_TRUE(rig.process.waitForFinished(15'000));

    const QStringList lines = rig.lines();
    int gone = 0;
    for (const QString& name : names) {
        if (fs::facts(rig.source + name))
            continue;
        ++gone;
        EXPECT_FALSE(lines.filter("Delete '" + rig.source + name + "' .....Success").isEmpty())
            << name.toStdString();
    }
    EXPECT_GT(gone, 0);
}

TEST(Shutdown, DuringACopyLeavesNoPartialFileAndKeepsTheSource) {
    ProgramRig rig;
    const QString source = rig.folder("watched");
    // On another file system, so that the move is a copy.
    QTemporaryDir otherFileSystem("/dev/shm/kw-test-XXXXXX");
    const QString destination = otherFileSystem.path() + "/";
    if (fs::deviceOf(source) == 0 || fs::deviceOf(source) == fs::deviceOf(destination))
        KW_CANNOT_RUN("/dev/shm is no file system of its own here");
    rig.setting("Source", source);
    rig.setting("Destination", destination);
    // Several chunks, so the signal comes before the copy could finish.
    const QByteArray content(3 * kCopyChunk + 7, 'k');
    ASSERT_EQ(fs::replaceAtomically(source + "big.bin", content), 0);

    // The signal comes while the first chunk is on its way, as in the running program.
    const TerminationSignals termination([&rig](int) { rig.program->Close(vbAppTaskManager); });
    ASSERT_TRUE(termination.installed());
    bool raised = false;
    rig.desktop.onCopyProgress = [&raised] {
        if (!std::exchange(raised, true))
            ::raise(SIGTERM);
    };
    // Each chunk's write-back waits a moment, so that the copy is still running when the signal
    // has made its way to the window's thread.
    std::unique_ptr<TracedCalls> slowed;
    rig.start(false, [&] { slowed = slowChunks(300); });
    if (!slowed->why().isEmpty())
        KW_CANNOT_RUN(("strace: " + slowed->why()).toStdString());
    ASSERT_TRUE(waitUntil([&] { return rig.ended != 0; }, 60000));
    EXPECT_TRUE(raised);
    EXPECT_EQ(rig.ended, 1);

    EXPECT_EQ(fs::regularFileNames(destination).value_or(QStringList({"?"})), QStringList());
    EXPECT_EQ(bytesOf(source + "big.bin"), content);
    EXPECT_TRUE(logLines(rig.log()).contains("Form_QueryUnload(UnloadMode = vbAppTaskManager (3)"));
}

namespace {

// The process serving the FUSE file system mounted at folder, or -1.
pid_t fuseDaemonOf(const QString& folder) {
    const QByteArray mountPoint = encodeLocal(withoutTrailingSlash(folder));
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isProcess = false;
        const pid_t pid = entry.toInt(&isProcess);
        if (isProcess && bytesOf("/proc/" + entry + "/cmdline").split('\0').contains(mountPoint))
            return pid;
    }
    return -1;
}

QByteArray screenOf(const QByteArray& display) {
    QProcess shot;
    shot.start("import", {"-display", display, "-window", "root", "png:-"});
    return shot.waitForFinished(15000) ? shot.readAllStandardOutput() : QByteArray();
}

}  // namespace

// The destination's file system stops answering (its FUSE process is stopped): only the file work
// waits; the window goes on painting and says so, and a termination signal ends the program within
// seconds, having deleted nothing it had not proven.
TEST(Shutdown, AStoppedFuseDestinationHoldsUpOnlyTheFileWork) {
    ensureApplication();
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    const QString source = root + "watched/";
    const QString stickFolder = root + "stick/";
    ASSERT_EQ(fs::makePath(source), 0);
    QString why;
    const auto stick =
        ScratchFileSystem::make(ScratchFileSystem::Type::Exfat, stickFolder, 64 << 20, &why);
    if (!stick)
        KW_CANNOT_RUN(why.toStdString());
    const pid_t daemon = fuseDaemonOf(stickFolder);
    ASSERT_GT(daemon, 0);
    // Goes before the stick does, so that it can be unmounted.
    AtTestEnd resume("kill -CONT " + QString::number(daemon));
    XvfbServer x;
    if (const QString failed = x.start(); !failed.isEmpty())
        KW_CANNOT_RUN(failed.toStdString());

    ProgramProcess program(root);
    const QString ini = root + "Kopierwart.ini";
    WriteIniValue(ini, "Source", "Source", source);
    WriteIniValue(ini, "Destination", "Destination", stickFolder);
    WriteIniValue(ini, "Intervall", "Intervall", "1");
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromLatin1(x.display));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(environment);
    program.start(process);
    ASSERT_TRUE(
        waitUntil([&] { return logLines(program.log()).contains("Starting P2Pfinder....."); }));
    ASSERT_EQ(fs::replaceAtomically(source + "first.bin", "moved while it answers"), 0);
    ASSERT_TRUE(waitUntil([&] { return fs::facts(stickFolder + "first.bin").has_value(); }));
    waitUntil([] { return false; }, 500);  // the window has painted the copy
    const QByteArray answering = screenOf(x.display);

    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    ASSERT_EQ(fs::replaceAtomically(source + "second.bin", "stays while it does not"), 0);
    const auto toldTheUser = [&] {
        return !logLines(program.log()).filter("No answer from the file system").isEmpty();
    };
    ASSERT_TRUE(waitUntil(toldTheUser, 20'000)) << "the window's thread hangs too";
    waitUntil([] { return false; }, 500);
    const QByteArray hanging = screenOf(x.display);
    EXPECT_FALSE(answering.isEmpty());
    EXPECT_NE(hanging, answering) << "the window did not paint the hang";

    QElapsedTimer ending;
    ending.start();
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10'000));
    EXPECT_LT(ending.elapsed(), 5000);
    EXPECT_EQ(process.exitCode(), 0);
    const QStringList log = logLines(program.log());
    EXPECT_FALSE(log.filter(" and is left behind; it deletes nothing more").isEmpty());
    EXPECT_EQ(log.mid(log.size() - 4), QStringList({"*** Closing Kopierwart ***", "", "", ""}));

    resume.runNow();
    EXPECT_EQ(bytesOf(source + "second.bin"), "stays while it does not");
    EXPECT_FALSE(fs::facts(stickFolder + "second.bin"));
    EXPECT_EQ(bytesOf(stickFolder + "first.bin"), "moved while it answers");

    // Started while it does not answer: the folder check of the destination, or the sweep of a
    // destination used before, waits; the program does not, and in the second case the window and
    // the tray are there meanwhile.
    const QString local = root + "local/";
    for (const auto& [destination, reached] :
         {std::pair{stickFolder, "Set My.Destination = " + stickFolder},
          {local, QString("Initalizing Mainform")}}) {
        WriteIniValue(ini, "Destination", "Destination", destination);
        AtTestEnd resumeAgain("kill -CONT " + QString::number(daemon));
        ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
        const qsizetype before = logLines(program.log()).size();
        program.start(process);
        ASSERT_TRUE(waitUntil([&, &reached = reached] {
            return logLines(program.log()).mid(before).contains(reached);
        })) << reached.toStdString();
        waitUntil([] { return false; }, 1000);
        ending.start();
        ::kill(pid_t(process.processId()), SIGTERM);
        ASSERT_TRUE(process.waitForFinished(10'000));
        EXPECT_LT(ending.elapsed(), 5000);
        EXPECT_EQ(bytesOf(source + "second.bin"), "stays while it does not");
    }
}
