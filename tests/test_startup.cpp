#include "platform/textcodec.h"
#include "tests/program_rig.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QScopeGuard>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace kw;
using namespace kw::apptest;

namespace {

// Every entry of folder with its size and time, but for the log and its spare, which a running
// instance goes on writing.
QStringList snapshot(const QString& folder) {
    QStringList entries;
    for (const QString& name : fs::namesStartingWith(folder, QString())) {
        if (name == "." || name == ".." || name.contains("Kopierwart.Log"))
            continue;
        const auto facts = fs::facts(folder + name);
        entries.append(QStringLiteral("%1 %2 %3")
                           .arg(name)
                           .arg(facts ? facts->size : -1)
                           .arg(facts ? facts->modifiedNs : -1));
    }
    entries.sort();
    return entries;
}

}  // namespace

TEST(FirstStart, WritesDefaultSettingsMakesTheDownloadsFolderAndStaysShownWithoutTray) {
    ProgramRig rig;
    Program& program = rig.start();
    QStringList sections;
    for (const QString& line : QString::fromUtf8(bytesOf(rig.ini())).split("\r\n")) {
        if (line.startsWith('['))
            sections.append(line.mid(1, line.size() - 2));
    }
    EXPECT_EQ(sections, QStringList({"Color", "Sound", "Destination", "MB", "Fl", "Intervall"}));
    EXPECT_EQ(ReadIniValue(rig.ini(), "Destination", "Destination"), rig.downloads + "/");
    EXPECT_TRUE(fs::isDirectory(rig.downloads));
    EXPECT_TRUE(logLines(rig.log()).contains("Please set Source- & Copy-Directory"));
    EXPECT_TRUE(program.engine().Timer().isActive());

    // The offscreen platform has no notification area: the window must stay reachable.
    program.window().showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(program.window().isVisible());
}

TEST(LaterStart, ReadsFoldersIntervalAndStatisticsFromTheSettingsFile) {
    ProgramRig rig;
    const QString source = rig.folder("watched");
    rig.setting("Source", source);
    rig.setting("Destination", rig.folder("moved"));
    rig.setting("Intervall", "1");
    rig.setting("Fl", "2");
    rig.setting("MB", "2,5");
    Program& program = rig.start();
    EXPECT_EQ(program.engine().Timer().interval(), 1000);
    EXPECT_EQ(rig.control<QLineEdit>("Text(0)")->text(), source);
    EXPECT_EQ(rig.control<QGroupBox>("Frame")->title(), "2 Gesicherte Dateien (2,5 MB)");
}

TEST(LaterStart, AnInvalidIntervalOrCountIsReplacedByItsDefault) {
    for (const char* interval : {"abc", "0", "61", "-3", "", "99999999999"}) {
        ProgramRig rig;
        rig.setting("Intervall", interval);
        rig.setting("Fl", "viele");
        Program& program = rig.start();
        EXPECT_TRUE(program.engine().Timer().isActive());
        EXPECT_EQ(program.engine().Timer().interval(), 5000) << interval;
        EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "5");
        EXPECT_TRUE(rig.control<QGroupBox>("Frame")->title().startsWith("0 "));
    }
}

TEST(LaterStart, WatchedFolderThatCannotBeCreatedIsReportedAndClearedButStaysInSettings) {
    ProgramRig rig;
    const QString blocker = rig.dir.path() + "/plain-file";
    fs::replaceAtomically(blocker, "x");
    const QString impossible = blocker + "/watched/";
    rig.setting("Source", impossible);
    rig.setting("Destination", rig.folder("moved"));
    Program& program = rig.start();

    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_TRUE(rig.desktop.messages.front().text.contains(impossible));
    EXPECT_TRUE(program.data().My.Source.isEmpty());
    EXPECT_EQ(ReadIniValue(rig.ini(), "Source", "Source"), impossible);
}

TEST(SecondInstance, EndsWithoutTouchingAnyFileAndAKilledHolderNeverBlocks) {
    ensureApplication();
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    ProgramProcess program(folder);
    ASSERT_TRUE(program.available()) << "build the Kopierwart target first";

    QProcess first, second, third;
    program.start(first);
    ASSERT_TRUE(waitUntil([&] { return program.started(); }));
    const QStringList before = snapshot(folder);
    program.start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(snapshot(folder), before);
    EXPECT_EQ(logLines(program.log()).filter(QRegularExpression(" started \\*\\*\\*$")).size(), 1);

    // A holder that is killed leaves its lock file behind; the next start must not mind it.
    ::kill(pid_t(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    program.start(third);
    EXPECT_TRUE(waitUntil([&] { return program.started(2); }));
    third.terminate();
    EXPECT_TRUE(third.waitForFinished(10000));
}

// The program in a folder whose name is not UTF-8: its data, log and lock stay beside it under
// the folder's own bytes, so a second start there finds the lock and ends.
TEST(ProgramPath, AProgramInAFolderWhoseNameIsNotUtf8KeepsItsDataAndLockThere) {
    ensureApplication();
    QTemporaryDir dir;
    // QTemporaryDir cannot remove names that Qt cannot spell.
    const auto removeAll = qScopeGuard([&dir] { QProcess::execute("rm", {"-rf", dir.path()}); });
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Pr\xF6gramme/";
    const QString folder = decodeLocal(folderBytes);
    ASSERT_EQ(fs::makePath(folder), 0);
    const auto program =
        fs::readAll(qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Kopierwart");
    ASSERT_TRUE(program) << "build the Kopierwart target first";
    ASSERT_EQ(fs::replaceAtomically(folder + "Kopierwart", *program), 0);
    ASSERT_EQ(::chmod((folderBytes + "Kopierwart").constData(), 0755), 0);
    // Qt cannot name the folder: the child goes there by its bytes and starts "./Kopierwart". A
    // data folder that went astray would land in this home, not in the tester's.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", dir.path());
    environment.remove("XDG_CONFIG_HOME");
    QProcess first, second;
    for (QProcess* process : {&first, &second}) {
        process->setProcessEnvironment(environment);
        process->setChildProcessModifier([folderBytes] {
            if (::chdir(folderBytes.constData()) != 0)
                ::_exit(127);
        });
    }
    const QString log = folder + "Kopierwart.Log";
    first.start("./Kopierwart", {});
    ASSERT_TRUE(waitUntil([&] { return bytesOf(log).contains("Starting P2Pfinder....."); }))
        << "no log beside the program";
    EXPECT_TRUE(bytesOf(log).contains(" -> " + folderBytes + "Kopierwart\r\n"));
    EXPECT_TRUE(fs::facts(folder + "Kopierwart.ini"));
    EXPECT_TRUE(fs::facts(folder + "Kopierwart.lock"));

    second.start("./Kopierwart", {});
    EXPECT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(bytesOf(log).count("Starting P2Pfinder....."), 1);
    EXPECT_FALSE(fs::facts(dir.path() + "/.config"));
    first.terminate();
    EXPECT_TRUE(first.waitForFinished(10000));
}
