#include "app/datafolder.h"
#include "platform/textcodec.h"
#include "tests/program_rig.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QScopeGuard>

#include <csignal>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using namespace kw;
using namespace kw::apptest;

namespace {

// Names, sizes and modification times of everything in folder.
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

TEST(FirstStart, WritesDefaultSettingsLogsEveryStepInOrderAndStaysShownWithoutTray) {
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

    QStringList lines = logLines(rig.log());
    // Without an X display the first detection pass says once that it finds nothing.
    lines.removeIf([](const QString& line) { return line.startsWith("P2P detection:"); });
    EXPECT_EQ(lines, QStringList({rig.dataFolder + "Kopierwart",
                                  "*** Kopierwart " KW_PROJECT_VERSION " started ***",
                                  "Data folder " + rig.dataFolder + " (the executable's folder)",
                                  "", "Reading Config...", "Set Timerintervall to 5s",
                                  "Set My.Path = " + rig.dataFolder, "Set My.INI = " + rig.ini(),
                                  "Set My.Log = " + rig.log(),
                                  "Set My.Source = ", "Set My.Destination = " + rig.downloads + "/",
                                  "Set My.SoundFile = " + rig.dataFolder + "Copy.wav",
                                  "Please set Source- & Copy-Directory", "Initalizing Mainform",
                                  "Set ControlColor to #0000C0", "Start Scanning...",
                                  "Scanning complete !", "Starting P2Pfinder....."}));
    EXPECT_TRUE(program.engine().Timer().isActive());

    // The offscreen platform has no notification area: the window must stay reachable.
    EXPECT_TRUE(program.window().isVisible());
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
    Program& program = rig.start();
    EXPECT_EQ(program.engine().Timer().interval(), 1000);
    EXPECT_EQ(rig.control<QLineEdit>("Text(0)")->text(), source);
    EXPECT_TRUE(logLines(rig.log()).contains("Found valid Source- & Copy-Directory"));

    // Files saved, megabytes saved, the caption they make.
    for (const QStringList& stored : {QStringList{"1", "2,5", "1 Gesicherte Datei (2,5 MB)"},
                                      QStringList{"2", "2,5", "2 Gesicherte Dateien (2,5 MB)"},
                                      QStringList{"viele", "", "0 Gesicherte Dateien (0 MB)"}}) {
        ProgramRig other;
        other.setting("Fl", stored[0]);
        other.setting("MB", stored[1]);
        other.start();
        EXPECT_EQ(other.control<QGroupBox>("Frame")->title(), stored[2]);
    }
}

class InvalidInterval : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidInterval, StartsScanningEveryFiveSecondsAndWritesFive) {
    ProgramRig rig;
    rig.setting("Intervall", GetParam());
    Program& program = rig.start();
    EXPECT_TRUE(program.engine().Timer().isActive());
    EXPECT_EQ(program.engine().Timer().interval(), 5000);
    EXPECT_EQ(ReadIniValue(rig.ini(), "Intervall", "Intervall"), "5");
    EXPECT_TRUE(logLines(rig.log()).contains(
        QStringLiteral("Invalid Intervall '%1', using 5s").arg(GetParam())));
}

INSTANTIATE_TEST_SUITE_P(StoredValues, InvalidInterval,
                         ::testing::Values("abc", "0", "61", "-3", "", "99999999999"));

TEST(LaterStart, WatchedFolderThatCannotBeCreatedIsReportedAndClearedButStaysInSettings) {
    ProgramRig rig;
    const QString blocker = rig.dir.path() + "/plain-file";
    fs::replaceAtomically(blocker, "x");
    const QString impossible = blocker + "/watched/";
    rig.setting("Source", impossible);
    rig.setting("Destination", rig.folder("moved"));
    Program& program = rig.start();

    EXPECT_TRUE(
        logLines(rig.log()).contains("Error creating Directory My.Source '" + impossible + "'"));
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_TRUE(rig.desktop.messages.front().text.contains(impossible));
    EXPECT_EQ(rig.control<QLineEdit>("Text(0)")->text(), kDirectoryPlaceholder);
    EXPECT_TRUE(program.data().My.Source.isEmpty());
    EXPECT_EQ(ReadIniValue(rig.ini(), "Source", "Source"), impossible);
}

TEST(DataFolder, IsTheExecutablesFolderWhenWritableElseTheUsersConfigurationFolder) {
    QTemporaryDir dir;
    const DataFolder beside =
        prepareDataFolder(dir.path() + "/Kopierwart", dir.path() + "/config", dir.path());
    EXPECT_EQ(beside.path, dir.path() + "/");
    EXPECT_TRUE(beside.besideExecutable);

    // A folder that does not exist cannot be written, not even by the superuser.
    const QString installed = dir.path() + "/installed/bin/Kopierwart";
    const DataFolder fromXdg = prepareDataFolder(installed, dir.path() + "/xdg", dir.path());
    EXPECT_EQ(fromXdg.path, dir.path() + "/xdg/Kopierwart/");
    EXPECT_FALSE(fromXdg.besideExecutable);
    EXPECT_TRUE(fs::isDirectory(fromXdg.path));

    // A relative XDG_CONFIG_HOME is not a valid setting and is ignored.
    const DataFolder fromHome = prepareDataFolder(installed, "relative/xdg", dir.path());
    EXPECT_EQ(fromHome.path, dir.path() + "/.config/Kopierwart/");
    EXPECT_TRUE(fs::isDirectory(fromHome.path));
}

TEST(SecondInstance, EndsWithoutTouchingAnyFileAndAKilledHolderNeverBlocks) {
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
    // Its log holds the first instance's start alone.
    const QStringList lines = logLines(program.log());
    EXPECT_EQ(lines.filter(QRegularExpression(" started \\*\\*\\*$")).size(), 1);

    // A holder that is killed leaves its lock file behind; the next start must not mind it.
    ::kill(pid_t(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    QProcess third;
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
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Pr\xF6gramme/";
    const QString folder = decodeLocal(folderBytes);
    ASSERT_EQ(fs::makePath(folder), 0);
    const auto program =
        fs::readAll(qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Kopierwart");
    ASSERT_TRUE(program) << "build the Kopierwart target first";
    ASSERT_EQ(fs::replaceAtomically(folder + "Kopierwart", *program), 0);
    const QByteArray executable = folderBytes + "Kopierwart";
    ASSERT_EQ(::chmod(executable.constData(), 0755), 0);
    // A data folder that went astray would land in this home, not in the tester's.
    QList<QByteArray> environment{"HOME=" + QFile::encodeName(dir.path())};
    for (char** variable = environ; *variable; ++variable) {
        const QByteArray entry(*variable);
        if (!entry.startsWith("HOME=") && !entry.startsWith("XDG_CONFIG_HOME="))
            environment.append(entry);
    }
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::vector<pid_t> children;
    // A program left running by a failed assertion would outlive the test, and QTemporaryDir
    // cannot remove names that Qt cannot spell.
    const auto cleanUp = qScopeGuard([&children, &dir] {
        for (const pid_t pid : children) {
            if (::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
        QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()});
    });
    const auto start = [&] {
        pid_t pid = 0;
        char* argv[] = {const_cast<char*>(executable.constData()), nullptr};
        EXPECT_EQ(::posix_spawn(&pid, executable.constData(), nullptr, nullptr, argv, envp.data()),
                  0);
        children.push_back(pid);
        return pid;
    };
    const auto ended = [](pid_t pid, int* status) {
        return waitUntil([&] { return ::waitpid(pid, status, WNOHANG) == pid; }, 10000);
    };
    const QString log = folder + "Kopierwart.Log";
    const pid_t first = start();
    ASSERT_TRUE(waitUntil([&] { return bytesOf(log).contains("Starting P2Pfinder....."); }))
        << "no log beside the program";
    EXPECT_TRUE(bytesOf(log).contains(" -> " + executable + "\r\n"));
    EXPECT_TRUE(fs::facts(folder + "Kopierwart.ini"));
    EXPECT_TRUE(fs::facts(folder + "Kopierwart.lock"));

    const pid_t second = start();
    int status = -1;
    EXPECT_TRUE(ended(second, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(bytesOf(log).count("Starting P2Pfinder....."), 1);
    EXPECT_FALSE(fs::facts(dir.path() + "/.config"));

    ::kill(first, SIGTERM);
    EXPECT_TRUE(ended(first, &status));
}
