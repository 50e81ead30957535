#include "platform/signals.h"
#include "scan/bincopy.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

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
    // Several chunks, so the copy yields before it could finish.
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
    std::unique_ptr<TracedCalls> slowChunks;
    rig.start(false, [&] {
        slowChunks = std::make_unique<TracedCalls>("sync_file_range",
                                                   QStringList{"sync_file_range:delay_enter=300000"});
    });
    if (!slowChunks->why().isEmpty())
        KW_CANNOT_RUN(("strace: " + slowChunks->why()).toStdString());
    ASSERT_TRUE(waitUntil([&] { return rig.ended != 0; }, 60000));
    EXPECT_TRUE(raised);
    EXPECT_EQ(rig.ended, 1);

    EXPECT_EQ(fs::regularFileNames(destination).value_or(QStringList({"?"})), QStringList());
    EXPECT_EQ(bytesOf(source + "big.bin"), content);
    EXPECT_TRUE(logLines(rig.log()).contains("Form_QueryUnload(UnloadMode = vbAppTaskManager (3)"));
}
