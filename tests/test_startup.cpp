#include "platform/textcodec.h"
#include "tests/program_rig.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QScopeGuard>

#include <csignal>

using namespace kw;
using namespace kw::apptest;

TEST(FirstStart, WritesDefaultSettingsMakesTheDownloadsFolderAndStaysShownWithoutTray) {
    ProgramRig rig;
    Program& program = rig.start();
    EXPECT_EQ(ReadIniValue(rig.ini(), "Destination", "Destination"), rig.downloads + "/");
    EXPECT_TRUE(fs::isDirectory(rig.downloads));
    EXPECT_TRUE(program.engine().Timer().isActive());
    // The offscreen platform has no notification area: the window must stay reachable.
    program.window().showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(program.window().isVisible());
}

TEST(LaterStart, ReadsFoldersIntervalAndStatisticsAndReportsAWatchedFolderItCannotMake) {
    ProgramRig rig;
    const QString impossible = rig.ini() + "/watched/";  // under a file
    rig.setting("Source", impossible);
    rig.setting("Destination", rig.folder("moved"));
    rig.setting("Intervall", "1");
    rig.setting("MB", "2,5");
    rig.setting("Fl", "2");
    Program& program = rig.start();
    EXPECT_EQ(program.engine().Timer().interval(), 1000);
    EXPECT_EQ(rig.control<QGroupBox>("Frame")->title(), "2 Gesicherte Dateien (2,5 MB)");
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_TRUE(rig.desktop.messages.front().text.contains(impossible));
    EXPECT_TRUE(program.data().My.Source.isEmpty());
    EXPECT_EQ(ReadIniValue(rig.ini(), "Source", "Source"), impossible);
}

// In a folder whose name is not UTF-8 the data and lock stay beside the program, under the
// folder's own bytes; a second instance there ends without touching any file, and a killed
// holder's lock never blocks the next start.
TEST(SecondInstance, EndsWithoutTouchingAnyFileAndAKilledHolderNeverBlocks) {
    QTemporaryDir dir;
    // QTemporaryDir cannot remove names that Qt cannot spell.
    const auto removeAll = qScopeGuard([&dir] { QProcess::execute("rm", {"-rf", dir.path()}); });
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Pr\xF6gramme/";
    const QString folder = decodeLocal(folderBytes);
    ASSERT_EQ(fs::makePath(folder), 0);
    ProgramProcess program(folder);
    ASSERT_GT(fs::facts(program.program()).value_or(fs::Facts{}).size, 0);  // built?

    QProcess first, second, third;
    program.start(first);
    ASSERT_TRUE(
        waitUntil([&] { return logLines(program.log()).contains("Starting P2Pfinder....."); }));
    EXPECT_TRUE(bytesOf(program.log()).contains(" -> " + folderBytes + "Kopierwart\r\n"));
    EXPECT_TRUE(fs::facts(folder + "Kopierwart.ini"));
    EXPECT_TRUE(fs::facts(folder + "Kopierwart.lock"));
    const QStringList before = folderSnapshot(folder, false);
    program.start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(folderSnapshot(folder, false), before);
    EXPECT_EQ(logLines(program.log()).count("Starting P2Pfinder....."), 1);

    ::kill(pid_t(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    program.start(third);
    EXPECT_TRUE(
        waitUntil([&] { return logLines(program.log()).count("Starting P2Pfinder.....") == 2; }));
    third.terminate();
    EXPECT_TRUE(third.waitForFinished(10000));
}
