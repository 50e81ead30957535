#include "core/desktop.h"
#include "core/files.h"
#include "core/inifile.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

#include <cerrno>

using namespace kw;
using namespace kw::test;

namespace {

const QString kSuccess = QStringLiteral(".....Success");

class Cycle : public ::testing::Test {
protected:
    ScanRig rig;

    QString in(const QString& name) const { return rig.sourcePath(name); }
    QString out(const QString& name) const { return rig.destinationPath(name); }
    QStringList tick() {
        rig.engine.Timer_Timer();
        EXPECT_FALSE(rig.engine.ScanBusy());
        return rig.takeLog();
    }
    QString copyLine(const QString& name) const { return "Copy " + in(name) + " -> " + out(name); }
    QString deletedLine(const QString& name) const {
        return "Trying to Delete '" + in(name) + "' " + kSuccess;
    }
};

TEST_F(Cycle, ANewFileIsMovedWithTwoLogLinesAndRecorded) {
    const QByteArray bytes = patternBytes(1'048'576);
    writeBytes(in("movie.avi"), bytes);
    rig.data.My.SoundFile = rig.dir.path() + "/data/Copy.wav";
    QSignalSpy statistics(&rig.engine, &ScanEngine::statisticsChanged);
    QSignalSpy copied(&rig.engine, &ScanEngine::copiedFilesChanged);

    EXPECT_EQ(tick(), (QStringList{copyLine("movie.avi"), deletedLine("movie.avi")}));

    EXPECT_TRUE(entriesOf(rig.source).isEmpty());
    EXPECT_EQ(readBytes(out("movie.avi")), bytes);
    EXPECT_EQ(entriesOf(rig.destination), QStringList{"movie.avi"});
    const TextArray registered = LoadListFile(rig.data.My.CopyListFile);
    ASSERT_EQ(ArrayUpperBound(registered), 0);
    EXPECT_EQ(registered->at(0).section(QChar(u'\0'), 0, 1),
              in("movie.avi") + QChar(u'\0') + "1048576");
    EXPECT_EQ(rig.data.CopiedFiles, registered);
    EXPECT_EQ(rig.engine.LBfiles(), QStringList{out("movie.avi")});
    EXPECT_EQ(rig.engine.LBpath(), QStringList{out("movie.avi")});
    ASSERT_EQ(statistics.size(), 1);
    EXPECT_EQ(statistics[0][0].toString(), "1 Gesicherte Datei (1 MB)");
    EXPECT_EQ(ReadIniValue(rig.data.My.INI, "Fl", "Fl"), "1");
    EXPECT_EQ(copied.size(), 1);
    EXPECT_EQ(rig.desktop.playedSounds, QStringList{"1 " + rig.data.My.SoundFile});
    ASSERT_EQ(rig.desktop.progress.size(), 1u);
    EXPECT_EQ(rig.desktop.progress[0].caption, "Neue Datei kopieren");

    EXPECT_TRUE(tick().isEmpty()) << "an empty watched folder logs nothing";
    EXPECT_EQ(statistics.size(), 1);
}

TEST_F(Cycle, LBfilesStaysSortedWithoutDuplicates) {
    writeBytes(in("b.txt"), "b");
    writeBytes(in("C.txt"), "c");
    writeBytes(in("a.txt"), "a");
    tick();
    // The same name again, with another size so that it counts as a new file.
    writeBytes(in("a.txt"), "aa");
    fs::removeFile(out("a.txt"));
    tick();
    EXPECT_EQ(rig.engine.LBfiles(), (QStringList{out("a.txt"), out("b.txt"), out("C.txt")}));
    EXPECT_EQ(rig.engine.LBpath().size(), 4);
}

TEST_F(Cycle, BlockedExtensionsStayWithoutALogLineWhateverTheirCase) {
    rig.data.BlockedExtensions = QStringList{"avi", ""};
    writeBytes(in("a.AVI"), "video");
    writeBytes(in("README"), "no extension, blocked by the empty entry");
    writeBytes(in("a.avi.txt"), "text");

    EXPECT_EQ(tick(), (QStringList{copyLine("a.avi.txt"), deletedLine("a.avi.txt")}));
    EXPECT_EQ(entriesOf(rig.source), (QStringList{"README", "a.AVI"}));
    EXPECT_EQ(rig.data.CopiedFiles->size(), 1);
}

TEST_F(Cycle, AFileInTheRegisterIsDeletedWithoutCopying) {
    writeBytes(in("old.bin"), "seen before");
    const QString key = CopyKey(in("OLD.BIN"), 11, GetFileDate(in("old.bin")));
    rig.data.CopiedFiles = QStringList{key};

    EXPECT_EQ(tick(), QStringList{deletedLine("old.bin")});
    EXPECT_TRUE(entriesOf(rig.source).isEmpty());
    EXPECT_TRUE(entriesOf(rig.destination).isEmpty());
    EXPECT_TRUE(rig.desktop.progress.empty());
}

TEST_F(Cycle, SameNameAndSameContentInTheDestinationDeletesTheSource) {
    writeBytes(in("a.bin"), "same bytes");
    writeBytes(out("a.bin"), "same bytes");

    EXPECT_EQ(tick(), QStringList{"Source allready exist - Trying to Delete '" + in("a.bin") +
                                  "' " + kSuccess});
    EXPECT_TRUE(entriesOf(rig.source).isEmpty());
    EXPECT_EQ(rig.data.CopiedFiles, TextArray(QStringList()));
    EXPECT_EQ(rig.data.My.SavedFileCount, "0");
}

TEST_F(Cycle, SameNameAndSizeButOtherContentIsRenamedAndCopied) {
    writeBytes(in("a.bin"), "mine......");
    writeBytes(out("a.bin"), "theirs....");

    EXPECT_EQ(tick(), (QStringList{"Renaming " + in("a.bin") + " -> 001 a.bin",
                                   copyLine("001 a.bin"), deletedLine("001 a.bin")}));
    EXPECT_EQ(readBytes(out("a.bin")), "theirs....");
    EXPECT_EQ(readBytes(out("001 a.bin")), "mine......");
    EXPECT_TRUE(entriesOf(rig.source).isEmpty());
}

TEST_F(Cycle, ACollisionTakesTheNextFreeNumberAndRestartsThePass) {
    writeBytes(in("a.avi"), "new video");
    writeBytes(in("b.txt"), "b");
    writeBytes(out("a.avi"), "other");
    writeBytes(out("001 a.avi"), "other too");
    fs::makePath(in("002 a.avi"));  // a folder: not listed, but the name is taken

    const QStringList lines = tick();

    // 002 is free in the destination but taken in the watched folder: the rename fails there.
    const qsizetype renaming = lines.indexOf("Renaming " + in("a.avi") + " -> 002 a.avi");
    ASSERT_GE(renaming, 0);
    EXPECT_EQ(lines.value(renaming + 1), "Renaming " + in("a.avi") + " -> 003 a.avi");
    EXPECT_TRUE(lines.contains(copyLine("003 a.avi")));
    EXPECT_EQ(lines.count(copyLine("b.txt")), 1) << "the restarted pass does not copy twice";
    EXPECT_EQ(readBytes(out("003 a.avi")), "new video");
    EXPECT_EQ(readBytes(out("a.avi")), "other");
    EXPECT_EQ(entriesOf(rig.source), QStringList{"002 a.avi"});
}

TEST_F(Cycle, NoFreeNumberEndsTheTickWithTimerError5) {
    writeBytes(in("a.avi"), "new");
    writeBytes(out("a.avi"), "old video");
    for (int k = 1; k <= 999; ++k)
        writeBytes(out(QString("%1 a.avi").arg(k, 3, 10, QChar('0'))), {});
    rig.data.TaskList = QStringList{"/nonexistent/task"};

    const QStringList lines = tick();

    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "TimerError (5)");
    EXPECT_TRUE(lines[1].startsWith("ErrorDescription: No free number"));
    EXPECT_EQ(rig.data.TaskList, TextArray(QStringList{"/nonexistent/task"}))
        << "the watchdog pass is skipped";
    EXPECT_EQ(readBytes(in("a.avi")), "new");
}

TEST_F(Cycle, AFullDiskLeavesTheSourceAndLogsOneCopyError) {
    TmpfsMount small(rig.destination, "2m");
    if (!small.mounted())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    const QByteArray bytes = patternBytes(3'000'000);
    writeBytes(in("big.bin"), bytes);

    EXPECT_EQ(tick(), (QStringList{copyLine("big.bin"),
                                   QString("CopyError (%1) - Delete Destination.....Success")
                                       .arg(kSystemFailure + ENOSPC)}));
    EXPECT_EQ(readBytes(in("big.bin")), bytes);
    EXPECT_TRUE(entriesOf(rig.destination).isEmpty());
    EXPECT_EQ(rig.data.CopiedFiles, TextArray(QStringList()));
}

TEST_F(Cycle, AFileStillBeingWrittenIsNotDeletedAndMovesOnALaterTick) {
    QByteArray bytes = patternBytes(3'000'000);
    writeBytes(in("download.bin"), bytes);
    QTimer::singleShot(0, [&] { appendBytes(in("download.bin"), "tail"); });

    EXPECT_EQ(tick(),
              (QStringList{
                  copyLine("download.bin"),
                  QString("CopyError (%1) - Delete Destination.....Success").arg(kSourceChanged)}));
    EXPECT_EQ(readBytes(in("download.bin")), bytes + "tail");
    EXPECT_TRUE(entriesOf(rig.destination).isEmpty());

    EXPECT_EQ(tick(), (QStringList{copyLine("download.bin"), deletedLine("download.bin")}));
    EXPECT_EQ(readBytes(out("download.bin")), bytes + "tail");
}

TEST_F(Cycle, ACopyErrorNeverDeletesADestinationFileItDidNotWrite) {
    writeBytes(in("a.bin"), patternBytes(2'000'000));
    QTimer::singleShot(0, [&] { writeBytes(out("a.bin"), "written by someone else"); });

    EXPECT_EQ(tick(),
              (QStringList{copyLine("a.bin"), "CopyError (-2) - Delete Destination.....Success"}));
    EXPECT_EQ(readBytes(out("a.bin")), "written by someone else");
    EXPECT_EQ(fs::facts(in("a.bin"))->size, 2'000'000);

    // Next tick: a different file of that name, so the source is renamed and copied.
    const QStringList lines = tick();
    EXPECT_EQ(lines.first(), "Renaming " + in("a.bin") + " -> 001 a.bin");
    EXPECT_EQ(fs::facts(out("001 a.bin"))->size, 2'000'000);
}

TEST_F(Cycle, TicksArrivingDuringACopyReturnAtOnceAndScanNowRestartsTheTimer) {
    writeBytes(in("a.bin"), patternBytes(3'000'000));
    rig.data.My.ScanInterval = 7;
    bool busyDuringCopy = false;
    QTimer::singleShot(0, [&] {
        busyDuringCopy = rig.engine.ScanBusy();
        rig.engine.Timer_Timer();
        rig.engine.butGoTimer_Click();
    });

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), "Start Scanning...", "Scanning complete !",
                                   deletedLine("a.bin")}));
    EXPECT_TRUE(busyDuringCopy);
    EXPECT_EQ(rig.desktop.progress.size(), 1u);
    EXPECT_TRUE(rig.engine.Timer().isActive());
    EXPECT_EQ(rig.engine.Timer().interval(), 7000);
}

TEST_F(Cycle, AbandonStopsTheCopyAtItsNextYieldWithoutAnotherLine) {
    writeBytes(in("a.bin"), patternBytes(3'000'000));
    writeBytes(in("b.bin"), "b");
    rig.engine.Timer().start(5000);
    QTimer::singleShot(0, [&] { rig.engine.Abandon(); });

    const QStringList lines = tick();

    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Copy "));
    EXPECT_TRUE(entriesOf(rig.destination).isEmpty());
    EXPECT_EQ(entriesOf(rig.source), (QStringList{"a.bin", "b.bin"}));
    EXPECT_FALSE(rig.engine.Timer().isActive());
    EXPECT_TRUE(tick().isEmpty()) << "an abandoned engine does not tick again";
}

TEST_F(Cycle, StartUpRemovesOnlyTheTemporaryFilesOfKilledCopies) {
    writeBytes(out(".Kopierwart-1f2e3d.part"), "half a file");
    writeBytes(out(".Kopierwart-notes.txt"), "keep");
    writeBytes(out("movie.part"), "keep");

    rig.engine.RemoveAbandonedCopies();

    EXPECT_EQ(entriesOf(rig.destination), (QStringList{".Kopierwart-notes.txt", "movie.part"}));
    EXPECT_EQ(rig.takeLog(),
              QStringList{"Removed abandoned copy '" + out(".Kopierwart-1f2e3d.part") + "'"});
}

TEST_F(Cycle, WatchedAndDestinationFolderMustNotBeTheSameFolder) {
    writeBytes(in("precious.avi"), "only copy");
    const QString link = rig.dir.path() + "/link";
    ASSERT_TRUE(QFile::link(rig.dir.path() + "/in", link));
    rig.data.My.Destination = link + "/../link/";
    QSignalSpy cleared(&rig.engine, &ScanEngine::foldersCleared);

    EXPECT_FALSE(rig.engine.ValidateDirectories());

    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_EQ(rig.desktop.messages[0].caption, "Fehler");
    EXPECT_EQ(rig.desktop.messages[0].style, MB_ICONERROR);
    EXPECT_EQ(rig.desktop.messages[0].text,
              "Das zu überwachende Verzeichnis und das Zielverzeichnis sind dasselbe "
              "Verzeichnis '" +
                  rig.source + "' !\r\n\r\nBitte geben Sie ein anderes Zielverzeichnis an.\r\n");
    EXPECT_EQ(rig.takeLog(), QStringList{"Error same Directory for My.Source and My.Destination '" +
                                         rig.source + "'"});
    EXPECT_TRUE(rig.data.My.Destination.isEmpty());
    EXPECT_EQ(rig.data.My.Source, rig.source);
    EXPECT_EQ(cleared.size(), 1);

    EXPECT_TRUE(tick().isEmpty());
    EXPECT_EQ(readBytes(in("precious.avi")), "only copy");
}

TEST_F(Cycle, AFolderThatCannotBeCreatedIsClearedWithItsMessage) {
    writeBytes(rig.dir.path() + "/file", "a file, not a folder");
    rig.data.My.Source = rig.dir.path() + "/file/in/";

    EXPECT_EQ(tick(),
              QStringList{"Error creating Directory My.Source '" + rig.dir.path() + "/file/in/'"});
    EXPECT_TRUE(rig.data.My.Source.isEmpty());
    ASSERT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_TRUE(rig.desktop.messages[0].text.startsWith("Das zu überwachende Verzeichnis '" +
                                                        rig.dir.path() + "/file/in/' ist nicht"));
}

TEST_F(Cycle, TaskListsWithoutEntriesEndTheTickWithoutTimerError) {
    rig.data.TaskList = QStringList();
    EXPECT_TRUE(tick().isEmpty());
    EXPECT_TRUE(rig.engine.LBtask().isEmpty()) << "no snapshot for an empty list";
    rig.data.TaskList.reset();
    writeBytes(in("a.txt"), "a");
    EXPECT_EQ(tick(), (QStringList{copyLine("a.txt"), deletedLine("a.txt")}));
}

TEST_F(Cycle, NamesThatAreNotUtf8OrHoldShellCharactersMoveUnchanged) {
    const QString latin1 = decodeLocal("caf\xe9.bin");
    const QString shelly = "a b;$(x)'\".txt";
    writeBytes(in(latin1), "latin-1 name");
    writeBytes(in(shelly), "shell characters");

    const QStringList lines = tick();

    EXPECT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.contains(deletedLine(latin1)));
    EXPECT_TRUE(lines.contains(deletedLine(shelly)));
    EXPECT_EQ(readBytes(out(latin1)), "latin-1 name");
    EXPECT_EQ(readBytes(out(shelly)), "shell characters");
    QStringList both{latin1, shelly};
    both.sort();
    EXPECT_EQ(entriesOf(rig.destination), both);
    EXPECT_TRUE(entriesOf(rig.source).isEmpty());
    EXPECT_EQ(encodeLocal(rig.engine.LBfiles().join('|')),
              encodeLocal(out(shelly)) + "|" + encodeLocal(out(latin1)));
}

TEST_F(Cycle, AFileOver2GiBMovesWholeAndCorrect) {
    const qint64 size = (qint64(2) << 30) + 5;
    const QString path = in("huge.img");
    ASSERT_EQ(fs::append(path, {}), 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(size - 5));
    ASSERT_TRUE(file.seek(size - 5));
    ASSERT_EQ(file.write("tail!"), 5);
    file.close();

    EXPECT_EQ(tick(), (QStringList{copyLine("huge.img"), deletedLine("huge.img")}));

    ASSERT_TRUE(fs::facts(out("huge.img")).has_value());
    EXPECT_EQ(fs::facts(out("huge.img"))->size, size);
    QFile copy(out("huge.img"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    ASSERT_TRUE(copy.seek(size - 6));
    EXPECT_EQ(copy.read(6), QByteArray("\0tail!", 6));
    EXPECT_EQ(rig.data.CopiedFiles->at(0).section(QChar(u'\0'), 1, 1), "2147483653");
    EXPECT_EQ(rig.data.My.SavedMegabytes, "2048");
}

// An unreadable source needs a user whom file modes bind: the test runs one tick as "nobody"
// in a child process (this program again, running only UnprivilegedTick below).
TEST(UnprivilegedCycle, AnUnreadableSourceStaysAndIsReportedAsACopyError) {
    ScanRig rig;
    const QString root = rig.dir.path();
    for (const QString& folder : {root, root + "/in", root + "/out", root + "/data"})
        QFile::setPermissions(folder, QFile::Permissions(0x7777));
    writeBytes(rig.sourcePath("secret.bin"), "for root only");
    QFile::setPermissions(rig.sourcePath("secret.bin"), QFile::ReadOwner | QFile::WriteOwner);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KW_UNPRIVILEGED_ROOT", root);
    child.setProcessEnvironment(environment);
    child.start("setpriv",
                {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                 QCoreApplication::applicationFilePath(), "--gtest_filter=UnprivilegedTick.*"});
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0 || !child.readAllStandardOutput().contains("[  PASSED  ] 1 test"))
        GTEST_SKIP() << "cannot run a child as an unprivileged user here";

    const QString log = QString::fromUtf8(readBytes(rig.data.My.Log));
    EXPECT_TRUE(log.contains(
        QString("CopyError (%1) - Delete Destination.....Success").arg(kSystemFailure + EACCES)))
        << log.toStdString();
    EXPECT_EQ(readBytes(rig.sourcePath("secret.bin")), "for root only");
    EXPECT_TRUE(entriesOf(rig.destination).isEmpty());
}

TEST(UnprivilegedTick, RunsOneTickOverTheFoldersItIsGiven) {
    const QString root = qEnvironmentVariable("KW_UNPRIVILEGED_ROOT");
    if (root.isEmpty())
        GTEST_SKIP() << "runs only as the child of UnprivilegedCycle";
    ensureCoreApplication();
    AppData data;
    data.My = fileSetFor(root + "/data/", "Kopierwart");
    data.My.Source = root + "/in/";
    data.My.Destination = root + "/out/";
    data.TaskList = QStringList();
    data.CopiedFiles = QStringList();
    EventLog log;
    log.setLogFile(data.My.Log);
    RecordingDesktop desktop;
    ScanEngine engine(data, log, desktop);
    engine.Timer_Timer();
}

}  // namespace
