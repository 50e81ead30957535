#include "app/datafolder.h"
#include "platform/instancelock.h"
#include "scan/engine.h"
#include "tests/program_rig.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <csignal>

using namespace kw;
using namespace kw::apptest;

namespace {

QString captionOf(ProgramRig& rig) {
    return rig.control<QGroupBox>("Frame")->title();
}
QString textOf(ProgramRig& rig, const char* name) {
    return rig.control<QLineEdit>(QLatin1String(name))->text();
}

// Names, sizes and modification times of everything in folder.
QStringList snapshot(const QString& folder) {
    QStringList entries;
    for (const QString& name : fs::namesStartingWith(folder, QString())) {
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const auto facts = fs::facts(folder + name);
        entries.append(name + QLatin1Char(' ') + QString::number(facts ? facts->size : -1) +
                       QLatin1Char(' ') + QString::number(facts ? facts->modifiedNs : -1));
    }
    entries.sort();
    return entries;
}

}  // namespace

TEST(FirstStart, WritesDefaultSettingsInOrderAndLogsEveryStepInOrder) {
    ProgramRig rig;
    Program& program = rig.start();

    EXPECT_EQ(sectionsOf(rig.ini()),
              QStringList({"Color", "Sound", "Destination", "MB", "Fl", "Intervall"}));
    EXPECT_EQ(ReadIniValue(rig.ini(), "Color", "Color"), "12582912");
    EXPECT_EQ(ReadIniValue(rig.ini(), "Destination", "Destination"), rig.downloads + "/");
    EXPECT_EQ(ReadIniValue(rig.ini(), "Sound", "Sound"), rig.dataFolder + "Copy.wav");
    EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "5");
    EXPECT_EQ(ReadIniValue(rig.ini(), "Source", "Source"), "");

    const QString exe = rig.dataFolder + "Kopierwart";
    EXPECT_EQ(logLines(rig.log()),
              QStringList({exe, "*** Kopierwart 1.1.8 started ***",
                           "Data folder " + rig.dataFolder + " (the executable's folder)", "",
                           "Reading Config...", "Set Timerintervall to 5s",
                           "Set My.Path = " + rig.dataFolder, "Set My.INI = " + rig.ini(),
                           "Set My.Log = " + rig.log(),
                           "Set My.Source = ", "Set My.Destination = " + rig.downloads + "/",
                           "Set My.SoundFile = " + rig.dataFolder + "Copy.wav",
                           "Please set Source- & Copy-Directory", "Initalizing Mainform",
                           "Set ControlColor to #0000C0", "Start Scanning...",
                           "Scanning complete !", "Starting P2Pfinder....."}));

    EXPECT_TRUE(fs::isDirectory(rig.downloads));
    EXPECT_EQ(textOf(rig, "Text(0)"), kDirectoryPlaceholder);
    EXPECT_EQ(textOf(rig, "Text(1)"), rig.downloads + "/");
    EXPECT_EQ(captionOf(rig), "0 Gesicherte Dateien (0 MB)");
    EXPECT_EQ(program.window().windowTitle(), "Kopierwart 1.1.8");
    EXPECT_TRUE(program.engine().Timer().isActive());
    EXPECT_EQ(program.engine().Timer().interval(), 5000);
    for (const char* extension : {".cfg", ".task", ".Copy", ".Tasklst"})
        EXPECT_FALSE(fs::facts(rig.dataFolder + "Kopierwart" + extension)) << extension;
    EXPECT_TRUE(rig.desktop.messages.empty());
}

TEST(FirstStart, WithoutNotificationAreaLeavesTheWindowShownAndMinimisingKeepsIt) {
    ProgramRig rig;
    ASSERT_FALSE(Tray::available());
    Program& program = rig.start();
    EXPECT_TRUE(program.window().isVisible());
    program.window().showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(program.window().isVisible());
}

TEST(LaterStart, ReadsTheSettingsFileAndShowsStatisticsAndFolders) {
    ProgramRig rig;
    const QString source = rig.folder("watched");
    const QString destination = rig.folder("moved");
    rig.setting("Color", "255");
    rig.setting("Source", source);
    rig.setting("Destination", destination);
    rig.setting("Sound", "/sounds/done.wav");
    rig.setting("Intervall", "1");
    rig.setting("MB", "2,5");
    rig.setting("Fl", "1");
    Program& program = rig.start();

    EXPECT_EQ(captionOf(rig), "1 Gesicherte Datei (2,5 MB)");
    EXPECT_EQ(program.engine().Timer().interval(), 1000);
    EXPECT_EQ(textOf(rig, "Text(0)"), source);
    EXPECT_EQ(textOf(rig, "Text(1)"), destination);
    EXPECT_EQ(textOf(rig, "TextSound"), "/sounds/done.wav");
    EXPECT_TRUE(rig.control<QPushButton>("ButOpenDir(0)")->isEnabled());
    const QStringList log = logLines(rig.log());
    EXPECT_TRUE(log.contains("Set Timerintervall to 1s"));
    EXPECT_TRUE(log.contains("Found valid Source- & Copy-Directory"));
    EXPECT_TRUE(log.contains("Set ControlColor to #FF0000"));
}

TEST(LaterStart, PluralCaptionAndNonNumericStatisticsReadAsZero) {
    ProgramRig rig;
    rig.setting("Fl", "2");
    rig.setting("MB", "2,5");
    rig.start();
    EXPECT_EQ(captionOf(rig), "2 Gesicherte Dateien (2,5 MB)");

    ProgramRig other;
    other.setting("Fl", "viele");
    other.setting("MB", "");
    other.setting("Color", "blau");
    other.start();
    EXPECT_EQ(captionOf(other), "0 Gesicherte Dateien (0 MB)");
    EXPECT_TRUE(logLines(other.log()).contains("Set ControlColor to #000000"));
}

class InvalidInterval : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidInterval, StartsScanningEveryFiveSecondsAndWritesFive) {
    ProgramRig rig;
    rig.setting("Intervall", GetParam());
    Program& program = rig.start();
    EXPECT_TRUE(program.engine().Timer().isActive());
    EXPECT_EQ(program.engine().Timer().interval(), 5000);
    EXPECT_EQ(program.data().My.ScanInterval, 5);
    EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "5");
    const QStringList log = logLines(rig.log());
    EXPECT_TRUE(log.contains(QStringLiteral("Invalid Intervall '%1', using 5s").arg(GetParam())));
    EXPECT_TRUE(log.contains("Set Timerintervall to 5s"));
}

INSTANTIATE_TEST_SUITE_P(StoredValues, InvalidInterval,
                         ::testing::Values("abc", "0", "61", "-3", "", "99999999999"));

TEST(LaterStart, WatchedFolderThatCannotBeCreatedIsReportedAndClearedButStaysInSettings) {
    ProgramRig rig;
    const QString blocker = rig.dir.path() + "/plain-file";
    writeFile(blocker, "x");
    const QString impossible = blocker + "/watched/";
    rig.setting("Source", impossible);
    rig.setting("Destination", rig.folder("moved"));
    Program& program = rig.start();

    const QStringList log = logLines(rig.log());
    EXPECT_TRUE(log.contains("Error creating Directory My.Source '" + impossible + "'"));
    EXPECT_TRUE(log.contains("Please set Source- & Copy-Directory"));
    ASSERT_FALSE(rig.desktop.messages.empty());
    EXPECT_EQ(rig.desktop.messages.front().caption, "Fehler");
    EXPECT_TRUE(rig.desktop.messages.front().text.contains(impossible));
    EXPECT_EQ(textOf(rig, "Text(0)"), kDirectoryPlaceholder);
    EXPECT_TRUE(program.data().My.Source.isEmpty());
    EXPECT_EQ(ReadIniValue(rig.ini(), "Source", "Source"), impossible);
}

TEST(DataFolder, IsTheExecutablesFolderWhenWritable) {
    QTemporaryDir dir;
    const DataFolder folder =
        prepareDataFolder(dir.path() + "/Kopierwart", dir.path() + "/config", dir.path());
    EXPECT_EQ(folder.path, dir.path() + "/");
    EXPECT_TRUE(folder.besideExecutable);
    EXPECT_FALSE(fs::facts(dir.path() + "/config"));
}

TEST(DataFolder, FallsBackToTheUsersConfigurationFolderAndCreatesIt) {
    QTemporaryDir dir;
    // A folder that does not exist cannot be written, not even by the superuser.
    const QString executable = dir.path() + "/installed/bin/Kopierwart";
    const DataFolder fromXdg = prepareDataFolder(executable, dir.path() + "/xdg", dir.path());
    EXPECT_EQ(fromXdg.path, dir.path() + "/xdg/Kopierwart/");
    EXPECT_FALSE(fromXdg.besideExecutable);
    EXPECT_TRUE(fs::isDirectory(fromXdg.path));

    // A relative XDG_CONFIG_HOME is not a valid setting and is ignored.
    const DataFolder fromHome = prepareDataFolder(executable, "relative/xdg", dir.path());
    EXPECT_EQ(fromHome.path, dir.path() + "/.config/Kopierwart/");
    EXPECT_TRUE(fs::isDirectory(fromHome.path));
}

TEST(InstanceLock, IsExclusiveAndFreedWithItsHolder) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Kopierwart.lock";
    {
        InstanceLock first(path);
        EXPECT_EQ(first.state(), InstanceLock::State::Held);
        InstanceLock second(path);
        EXPECT_EQ(second.state(), InstanceLock::State::HeldByOther);
    }
    InstanceLock again(path);
    EXPECT_EQ(again.state(), InstanceLock::State::Held);
    InstanceLock nowhere(dir.path() + "/missing/Kopierwart.lock");
    EXPECT_EQ(nowhere.state(), InstanceLock::State::Unavailable);
}

TEST(SecondInstance, EndsWithinSecondsWithoutTouchingAnyFileAndAKilledHolderNeverBlocks) {
    ensureApplication();
    QTemporaryDir dir;
    const QString folder = dir.path() + "/";
    ProgramProcess program(folder);
    ASSERT_TRUE(program.available()) << "build the Kopierwart target first";

    QProcess first;
    program.start(first);
    ASSERT_TRUE(waitUntil([&] { return program.started(); }));
    const QStringList before = snapshot(folder);

    QProcess second;
    program.start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(snapshot(folder), before);

    // A holder that is killed leaves its lock file behind; the next start must not mind it.
    ::kill(pid_t(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    QProcess third;
    program.start(third);
    EXPECT_TRUE(waitUntil([&] { return program.started(2); }));
    third.terminate();
    EXPECT_TRUE(third.waitForFinished(10000));
}
