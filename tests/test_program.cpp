// The program from its start to its end, and its own files.

#include "app/datafolder.h"
#include "core/files.h"
#include "platform/signals.h"
#include "platform/sound.h"
#include "scan/bincopy.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/teardown.h"
#include "tests/support/tracedcalls.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QScopeGuard>
#include <QScrollBar>

#include <array>

#include <sys/fsuid.h>

using namespace kw;
using namespace kw::apptest;

TEST(Start, AFirstStartWritesDefaultsCopiesTheShippedSoundAndStaysShownWithoutTray) {
    const QString shipped = qEnvironmentVariable("KW_TEST_BINARY_DIR") + "/app/Copy.wav";
    ASSERT_TRUE(CanPlaySoundFile(shipped)) << "build the Kopierwart target first";
    ProgramRig rig, own;
    writeBytes(own.dataFolder + "Copy.wav", "mine");
    for (ProgramRig* each : {&rig, &own}) {
        each->shippedSound = shipped;
        each->start();
    }
    EXPECT_EQ(ReadIniValue(rig.ini(), "Destination", "Destination"), rig.downloads + "/");
    EXPECT_TRUE(fs::isDirectory(rig.downloads));
    EXPECT_TRUE(rig.program->engine().Timer().isActive());
    EXPECT_EQ(ReadIniValue(rig.ini(), "Sound", "Sound"), rig.dataFolder + "Copy.wav");
    EXPECT_EQ(bytesOf(rig.dataFolder + "Copy.wav"), bytesOf(shipped));
    EXPECT_EQ(bytesOf(own.dataFolder + "Copy.wav"), "mine");  // the user's own stays
    // No notification area here: the window must stay reachable.
    rig.program->window().showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(rig.program->window().isVisible());
}

TEST(Start, ALaterStartReadsItsSettingsAndReportsAWatchedFolderItCannotMake) {
    ProgramRig rig;
    const QString impossible = rig.ini() + "/watched/";  // under a file
    for (const auto& [key, value] : {std::pair{"Source", impossible},
                                     {"Destination", rig.folder("moved")},
                                     {"Intervall", "1"},
                                     {"MB", "2,5"},
                                     {"Fl", "2"}})
        rig.setting(key, value);
    Program& program = rig.start();
    EXPECT_EQ(program.engine().Timer().interval(), 1000);
    EXPECT_EQ(rig.control<QGroupBox>("Frame")->title(), "2 Gesicherte Dateien (2,5 MB)");
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_TRUE(rig.desktop.messages.front().text.contains(impossible));
    EXPECT_TRUE(program.data().My.Source.isEmpty());
    EXPECT_EQ(ReadIniValue(rig.ini(), "Source", "Source"), impossible);
}

// Three programs side by side, one signal each.
TEST(Termination, EachSignalRunsTheNormalShutdownAndLogsTaskManager) {
    RunningProgram programs[3];
    for (RunningProgram& program : programs)
        program.start();
    for (const int i : {0, 1, 2}) {
        ASSERT_TRUE(programs[i].waitStarted());
        ::kill(pid_t(programs[i].process.processId()), std::array{SIGTERM, SIGINT, SIGHUP}[i]);
    }
    for (RunningProgram& program : programs) {
        ASSERT_TRUE(program.process.waitForFinished(15000));
        EXPECT_EQ(program.process.exitCode(), 0);
        const QStringList log = program.lines();
        EXPECT_EQ(log.mid(log.size() - 6),
                  QStringList({"Form_QueryUnload(UnloadMode = vbAppTaskManager (3)",
                               "Closing Timer...", "*** Closing Kopierwart ***", "", "", ""}));
    }
}

// The toolkit ends the process from its own handler; still every deletion reaches the log.
TEST(Termination, TheXServerDyingDuringABurstLeavesEveryDeletionInTheLog) {
    test::XvfbServer x;
    if (const QString failed = x.start(); !failed.isEmpty())
        KW_CANNOT_RUN(failed.toStdString());
    RunningProgram rig;
    QString why;
    if (!rig.destinationOnTmpfs(16 << 20, &why))
        KW_CANNOT_RUN(why.toStdString());
    if (!runProgram("strace", {"-o", "/dev/null", "true"}).isEmpty())
        KW_CANNOT_RUN("strace cannot trace here");
    QStringList names;  // few enough that the capped log holds every line of the burst
    for (int i = 0; i < 100; ++i) {
        names.append(QString("burst%1.bin").arg(i));
        writeBytes(rig.source + names.last(), names.last().toUtf8());
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromLatin1(x.display));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    // Each deletion held 50 ms: one group's deletions outlast the wait for the file work's end.
    rig.start({"strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=unlinkat", "-e",
               "inject=unlinkat:delay_enter=50000"},
              environment);
    ASSERT_TRUE(waitUntil([&] { return !fs::facts(rig.source + names.first()); }, 30'000));
    x.process->kill();
    ASSERT_TRUE(rig.process.waitForFinished(15'000));
    // A write to the dead display's socket must not kill it before its log is written.
    EXPECT_EQ(rig.process.exitStatus(), QProcess::NormalExit)
        << "signal " << rig.process.exitCode();
    const QStringList lines = rig.lines();
    for (const QString& name : names)
        EXPECT_TRUE(fs::facts(rig.source + name) ||
                    !lines.filter("Delete '" + rig.source + name + "' .....Success").isEmpty())
            << name.toStdString();
}

// The signal comes during the first chunk; each chunk held 300 ms so the copy still runs.
TEST(Termination, DuringACopyLeavesNoPartialFileAndKeepsTheSource) {
    ProgramRig rig;
    const QString source = rig.folder("watched");
    QTemporaryDir otherFileSystem("/dev/shm/kw-test-XXXXXX");
    const QString destination = otherFileSystem.path() + "/";
    if (fs::deviceOf(source) == 0 || fs::deviceOf(source) == fs::deviceOf(destination))
        KW_CANNOT_RUN("/dev/shm is no file system of its own here");
    rig.setting("Source", source);
    rig.setting("Destination", destination);
    const QByteArray content = patternBytes(3 * kCopyChunk + 7);
    writeBytes(source + "big.bin", content);
    const TerminationSignals termination([&rig](int) { rig.program->Close(vbAppTaskManager); });
    ASSERT_TRUE(termination.installed());
    bool raised = false;
    rig.desktop.onCopyProgress = [&raised] {
        if (!std::exchange(raised, true))
            ::raise(SIGTERM);
    };
    std::unique_ptr<TracedCalls> slowed;
    rig.start(false, [&] { slowed = slowChunks(300); });
    if (!slowed->why().isEmpty())
        KW_CANNOT_RUN(("strace: " + slowed->why()).toStdString());
    ASSERT_TRUE(waitUntil([&] { return rig.ended != 0; }, 60000));
    EXPECT_EQ(rig.ended, 1);
    EXPECT_EQ(fs::regularFileNames(destination).value_or(QStringList({"?"})), QStringList());
    EXPECT_EQ(bytesOf(source + "big.bin"), content);
    EXPECT_TRUE(logLines(rig.log()).contains("Form_QueryUnload(UnloadMode = vbAppTaskManager (3)"));
}

// The destination's FUSE process stopped, during a run and at a start (as destination, or one
// used before): only the file work waits, nothing unproven is deleted, SIGTERM ends the program.
TEST(Termination, AStoppedFuseDestinationHoldsUpOnlyTheFileWork) {
    RunningProgram rig;
    QString why;
    const auto stick = test::ScratchFileSystem::make(test::ScratchFileSystem::Type::Exfat,
                                                     rig.destination, 64 << 20, &why);
    if (!stick)
        KW_CANNOT_RUN(why.toStdString());
    const pid_t daemon =
        outputOf("pgrep", {"-f", " " + test::withoutTrailingSlash(rig.destination) + "( |$)"})
            .trimmed()
            .toInt();
    ASSERT_GT(daemon, 0);
    // Goes before the stick does, so that it can be unmounted.
    test::AtTestEnd resume("kill -CONT " + QString::number(daemon));
    const auto endsWhenAsked = [&] {
        ::kill(pid_t(rig.process.processId()), SIGTERM);
        EXPECT_TRUE(rig.process.waitForFinished(5000)) << "still running 5 s after SIGTERM";
        EXPECT_EQ(rig.process.exitCode(), 0);
    };
    rig.start();
    ASSERT_TRUE(rig.waitStarted());
    writeBytes(rig.source + "first.bin", "moved while it answers");
    ASSERT_TRUE(waitUntil([&] { return fs::facts(rig.destination + "first.bin").has_value(); }));
    ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
    writeBytes(rig.source + "second.bin", "stays while it does not");
    ASSERT_TRUE(waitUntil(
        [&] { return !rig.lines().filter("No answer from the file system").isEmpty(); }, 20'000))
        << "the window's thread hangs too";
    endsWhenAsked();
    const QStringList log = rig.lines();
    EXPECT_FALSE(log.filter(" and is left behind; it deletes nothing more").isEmpty());
    EXPECT_EQ(log.mid(log.size() - 4), QStringList({"*** Closing Kopierwart ***", "", "", ""}));
    resume.runNow();
    EXPECT_EQ(bytesOf(rig.source + "second.bin"), "stays while it does not");
    EXPECT_FALSE(fs::facts(rig.destination + "second.bin"));
    EXPECT_EQ(bytesOf(rig.destination + "first.bin"), "moved while it answers");

    for (const auto& [destination, reached] :
         {std::pair{rig.destination, "Set My.Destination = " + rig.destination},
          {rig.folder("local"), QString("Initalizing Mainform")}}) {
        rig.setting("Destination", destination);
        test::AtTestEnd resumeAgain("kill -CONT " + QString::number(daemon));
        ASSERT_EQ(::kill(daemon, SIGSTOP), 0);
        const qsizetype before = rig.lines().size();
        rig.start();
        ASSERT_TRUE(waitUntil([&, &reached = reached] {
            return rig.lines().mid(before).contains(reached);
        })) << reached.toStdString();
        waitUntil([] { return false; }, 1000);
        endsWhenAsked();
        EXPECT_EQ(bytesOf(rig.source + "second.bin"), "stays while it does not");
    }
}

// The session bus stops just before a problem is notified: the next file still moves.
TEST(Termination, AStoppedSessionBusHoldsUpNeitherTheWindowNorTheMoves) {
    RunningProgram rig;
    QString why;
    if (!rig.destinationOnTmpfs(1 << 20, &why))
        KW_CANNOT_RUN(why.toStdString());
    const auto bus =
        test::launched({{"dbus-daemon", "--session", "--nofork", "--print-address=1"}});
    if (!waitUntil([&] { return bus->canReadLine(); }))
        KW_CANNOT_RUN("dbus-daemon (needed) did not start a session bus");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS",
                       QString::fromLocal8Bit(bus->readLine().trimmed()));
    rig.start({}, environment);
    ASSERT_TRUE(rig.waitStarted());
    const test::AtTestEnd resume("kill -CONT " + QString::number(bus->processId()));
    ASSERT_EQ(::kill(pid_t(bus->processId()), SIGSTOP), 0);
    // Too big for the destination: the problem "no space" starts and is to be notified.
    writeBytes(rig.source + "big.bin", QByteArray(2 << 20, 'b'));
    ASSERT_TRUE(waitUntil([&] { return !rig.lines().filter("not enough free space").isEmpty(); }));
    writeBytes(rig.source + "small.bin", "moves on");
    // Well within the bus's own timeout of 25 s, which a blocking call would wait out.
    EXPECT_TRUE(
        waitUntil([&] { return fs::facts(rig.destination + "small.bin").has_value(); }, 10'000));
    EXPECT_TRUE(rig.terminate(10'000));
}

TEST(OwnFiles, SettingsAndListsThatCannotBeReadAreReportedAndNeverReplaced) {
    constexpr uid_t kNobody = 65534;
    if (::geteuid() != 0)
        KW_CANNOT_RUN("needs root to leave files an ordinary user cannot read");
    ProgramRig rig;  // its data folder nobody's, as an ordinary user's is
    ::chmod(encodeLocal(rig.dir.path()).constData(), 0755);
    ::chown(encodeLocal(rig.dataFolder).constData(), kNobody, kNobody);
    const QByteArray settings =
        "[Source]\r\nSource=/srv/in/\r\n[Destination]\r\nDestination=/srv/out/\r\n";
    const QString tasks = rig.dataFolder + "Kopierwart.task";
    // Left by a run as root: the ordinary user cannot read them.
    test::makeFile(rig.ini(), settings, 0600);
    test::makeFile(tasks, "/usr/bin/true\r\n", 0600);
    test::makeFile(rig.dataFolder + "Kopierwart.cfg", "avi\r\n");
    ::chown(encodeLocal(rig.dataFolder + "Kopierwart.cfg").constData(), kNobody, kNobody);

    // This thread touches files as nobody, without root's power to read everything.
    ::setfsgid(kNobody);
    ::setfsuid(kNobody);
    const auto asRoot = qScopeGuard([] { ::setfsuid(0), ::setfsgid(0); });
    if (::setfsuid(uid_t(-1)) != kNobody)
        KW_CANNOT_RUN("cannot act as the user nobody");
    Program& program = rig.start();
    // The settings are changed meanwhile, and an edited task list is stored.
    rig.control<QScrollBar>("HScroll")->setValue(30);
    EXPECT_NE(WriteTextFile(tasks, "/usr/bin/false", true), 0);
    EXPECT_EQ(program.unreadableFiles(), (QStringList{rig.ini(), tasks}));
    ASSERT_FALSE(rig.desktop.messages.empty());
    const test::ShownMessage& message = rig.desktop.messages.front();
    EXPECT_EQ(message.caption, "Fehler");
    EXPECT_TRUE(message.text.contains(rig.ini() + " (keine Leseberechtigung)"))
        << message.text.toStdString();
    EXPECT_TRUE(message.text.contains(tasks + " (keine Leseberechtigung)"));
    EXPECT_TRUE(logLines(rig.log()).contains("Cannot read '" + rig.ini() +
                                             "': Permission denied - running without it, and it is "
                                             "not written in this run"));
    // The readable list is used, the first start's settings are not stored.
    EXPECT_EQ(program.data().BlockedExtensions, TextArray(QStringList{"avi"}));
    ::setfsuid(0), ::setfsgid(0);
    EXPECT_EQ(bytesOf(rig.ini()), settings);
    EXPECT_EQ(bytesOf(tasks), "/usr/bin/true\r\n");
    EXPECT_EQ(QFileInfo(rig.ini()).ownerId(), 0u);
}

// Data files kept in a dotfiles folder and linked into the data folder.
TEST(OwnFiles, SettingsRegisterAndLogKeptAsLinksAreWrittenThroughThem) {
    ProgramRig rig;
    const QString dotfiles = rig.folder("dotfiles");
    const QString source = rig.folder("watched");
    const QStringList names = {"Kopierwart.ini", "Kopierwart.Copy", "Kopierwart.Log"};
    for (const QString& name : names)
        ASSERT_TRUE(QFile::link("../dotfiles/" + name, rig.dataFolder + name));
    test::makeFile(dotfiles + "Kopierwart.ini", "", 0600);
    rig.setting("Source", source);
    rig.setting("Destination", rig.folder("moved"));
    writeBytes(source + "a.bin", "a");
    Program& program = rig.start();
    ASSERT_TRUE(waitUntil([&] { return program.engine().LBfiles().size() == 1; }));
    rig.control<QScrollBar>("HScroll")->setValue(42);
    for (const QString& name : names)
        EXPECT_EQ(QFileInfo(rig.dataFolder + name).symLinkTarget(), dotfiles + name)
            << name.toStdString();
    EXPECT_EQ(ReadIniValue(dotfiles + "Kopierwart.ini", "Intervall", "Intervall"), "42");
    EXPECT_EQ(test::statOf(dotfiles + "Kopierwart.ini").st_mode & 0777, 0600u)
        << "a private settings file stays private";
    EXPECT_TRUE(bytesOf(dotfiles + "Kopierwart.Copy").startsWith(encodeLocal(source + "a.bin")));
    EXPECT_TRUE(logLines(dotfiles + "Kopierwart.Log").contains("Scanning complete !"));
    EXPECT_TRUE(QDir(dotfiles).entryList(QDir::Hidden | QDir::Files).filter(".new-").isEmpty());
}

// A download that is an executable program is opened as a document, never run.
TEST(OwnFiles, DateiAusfuehrenOpensAMovedProgramAsADocument) {
    FoldersRig rig;
    test::writeProgram(rig.source + "setup.sh", "#!/bin/sh\ntouch \"$0.ran\"\n");
    rig.start();
    auto* list = rig.control<QListWidget>("LBfiles");
    ASSERT_TRUE(waitUntil([&] { return list->count() == 1; }));
    list->setCurrentRow(0);
    list->currentItem()->setSelected(true);
    rig.control<QMenu>("mnu")->findChild<QAction*>("mnuExecute")->trigger();
    EXPECT_EQ(rig.desktop.openedDocuments, QStringList{rig.destination + "setup.sh"});
    EXPECT_TRUE(rig.desktop.opened.isEmpty()) << rig.desktop.opened.join(' ').toStdString();
}

TEST(OwnFiles, TheDataFolderIsBesideAWritableExecutableUnlessInstalled) {
    QTemporaryDir dir;
    const QString executable = dir.path() + "/usr/bin/Kopierwart";
    fs::makePath(dir.path() + "/usr/bin/");
    EXPECT_EQ(prepareDataFolder(executable, QString(), "/nowhere").path, dir.path() + "/usr/bin/");
    // Installed, it keeps out of usr/bin although that is writable, as /usr/bin is for root.
    fs::makePath(dir.path() + "/usr/share/kopierwart/");
    const DataFolder installed = prepareDataFolder(executable, dir.path() + "/xdg", "/nowhere");
    EXPECT_EQ(installed.path, dir.path() + "/xdg/Kopierwart/");
    EXPECT_TRUE(fs::isDirectory(installed.path));
}
