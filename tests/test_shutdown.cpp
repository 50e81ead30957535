#include "platform/signals.h"
#include "scan/bincopy.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include <csignal>
#include <utility>

using namespace kw;
using namespace kw::apptest;

namespace {

// The log's last lines after a shutdown for cause.
void expectClosedFor(const QString& logFile, const QString& cause) {
    const QStringList lines = logLines(logFile);
    EXPECT_EQ(lines.mid(lines.size() - 6),
              QStringList({"Form_QueryUnload(UnloadMode = " + cause, "Closing Timer...",
                           "*** Closing Kopierwart ***", "", "", ""}));
}

}  // namespace

TEST(Shutdown, EveryCloseCauseIsLoggedByNameStopsTheTimersAndEndsOnce) {
    const struct {
        std::function<void(Program&)> close;
        QString cause;
    } causes[] = {
        {[](Program& p) { p.tray().mnuTray().findChild<QAction*>("mnuSClose")->trigger(); },
         "vbFormCode (1)"},
        {[](Program& p) { p.window().close(); }, "vbFormControlMenu (0)"},
        {[](Program& p) { p.Close(vbAppWindows); }, "vbAppWindows (2)"},
    };
    for (const auto& each : causes) {
        ProgramRig rig;
        Program& program = rig.start();
        each.close(program);
        expectClosedFor(rig.log(), each.cause);
        // A shown window fades out first; the process ends after it.
        waitUntil([&] { return rig.ended != 0; });
        EXPECT_EQ(rig.ended, 1) << each.cause.toStdString();
        EXPECT_FALSE(program.engine().Timer().isActive());
        EXPECT_FALSE(program.window().Blink().isActive());

        // Whatever arrives afterwards finds the shutdown done.
        program.Close(vbAppTaskManager);
        program.window().close();
        EXPECT_EQ(rig.ended, 1);
        EXPECT_EQ(logLines(rig.log()).count("Closing Timer..."), 1);
    }
}

TEST(Termination, EachSignalRunsTheNormalShutdownAndLogsTaskManager) {
    ensureApplication();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QTemporaryDir dir;
        ProgramProcess program(dir.path() + "/");
        ASSERT_TRUE(program.available()) << "build the Kopierwart target first";
        QProcess process;
        program.start(process);
        ASSERT_TRUE(waitUntil([&] { return program.started(); }));
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(process.exitCode(), 0);
        expectClosedFor(program.log(), "vbAppTaskManager (3)");
    }
}

TEST(Shutdown, DuringACopyLeavesNoPartialFileAndKeepsTheSource) {
    ProgramRig rig;
    const QString source = rig.folder("watched");
    // On another file system, so that the move is a copy.
    QTemporaryDir otherFileSystem("/dev/shm/kw-test-XXXXXX");
    const QString destination = otherFileSystem.path() + "/moved/";
    fs::makePath(destination);
    if (fs::deviceOf(source) == 0 || fs::deviceOf(source) == fs::deviceOf(destination))
        KW_CANNOT_RUN("/dev/shm is no file system of its own here");
    rig.setting("Source", source);
    rig.setting("Destination", destination);
    // Several chunks, so the copy yields before it could finish.
    const qint64 size = 3 * kCopyChunk + 7;
    ASSERT_EQ(fs::replaceAtomically(source + "big.bin", QByteArray(size, 'k')), 0);

    // The signal comes while the first chunk is on its way, as in the running program.
    const TerminationSignals termination([&rig](int) { rig.program->Close(vbAppTaskManager); });
    ASSERT_TRUE(termination.installed());
    bool raised = false;
    rig.desktop.onCopyProgress = [&raised] {
        if (!std::exchange(raised, true))
            ::raise(SIGTERM);
    };
    rig.start();
    ASSERT_TRUE(waitUntil([&] { return rig.ended != 0; }, 60000));
    EXPECT_TRUE(raised);
    EXPECT_EQ(rig.ended, 1);

    EXPECT_EQ(fs::regularFileNames(destination).value_or(QStringList({"?"})), QStringList());
    const auto kept = fs::facts(source + "big.bin");
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->size, size);
    const QStringList log = logLines(rig.log());
    EXPECT_TRUE(log.contains("Copy " + source + "big.bin -> " + destination + "big.bin"));
    EXPECT_TRUE(log.contains("Form_QueryUnload(UnloadMode = vbAppTaskManager (3)"));
    EXPECT_EQ(log.last(), "");
}
