#include "core/files.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/bincopy.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>

#include <sys/stat.h>

#include <cerrno>

using namespace kw;
using namespace kw::test;

namespace {

using Cycle = ScanRigTest;

// Names keep their bytes, shell characters included; the register, the run's list and the
// statistics learn of every move.
TEST_F(Cycle, NewFilesAreMovedWithTheirNamesUnchangedRecordedAndCounted) {
    data.TaskList.reset();  // a task list without entries ends the tick without TimerError
    const QString latin1 = decodeLocal("caf\xe9.bin");
    const QString shelly = "a b;$(x)'\".txt";
    for (const QString& name : {latin1, shelly, QString("B.txt")})
        writeBytes(in(name), encodeLocal(name));
    const QByteArray bytes = patternBytes(1'048'576);
    writeBytes(in("movie.avi"), bytes);
    QSignalSpy statistics(&engine, &ScanEngine::statisticsChanged);

    EXPECT_EQ(tick().count(moveLine("movie.avi")), 1);

    EXPECT_TRUE(entriesOf(source).isEmpty());
    EXPECT_EQ(entriesOf(destination).size(), 4) << "nothing else is left there";
    EXPECT_EQ(readBytes(out("movie.avi")), bytes);
    EXPECT_EQ(readBytes(out(latin1)), "caf\xe9.bin");
    EXPECT_EQ(readBytes(out(shelly)), shelly.toUtf8());
    // The list of this run's copies is sorted without regard to case and keeps the bytes.
    EXPECT_EQ(encodeLocal(engine.LBfiles().join('|')),
              encodeLocal(
                  QStringList{out(shelly), out("B.txt"), out(latin1), out("movie.avi")}.join('|')));
    ASSERT_EQ(data.CopiedFiles.keys(), LoadListFile(data.My.CopyListFile));
    EXPECT_EQ(data.CopiedFiles.keys()->filter(in("movie.avi") + QChar(u'\0') + "1048576").size(),
              1);
    ASSERT_FALSE(statistics.isEmpty());
    EXPECT_EQ(statistics.last().value(0).toString(), "4 Gesicherte Dateien (1 MB)");
}

TEST_F(Cycle, BlockedFilesStayAndRegisteredOnesWithTheirCopyInPlaceAreDeleted) {
    data.BlockedExtensions = QStringList{"avi", ""};  // "" blocks names without extension
    for (const char* name : {"a.AVI", "README", "a.avi.txt"})
        writeBytes(in(name), "bytes");
    writeBytes(out("a.avi.txt"), "bytes");
    data.CopiedFiles =
        CopyRegister(QStringList{CopyKey(in("a.avi.txt"), 5, GetFileDate(in("a.avi.txt")))});

    EXPECT_EQ(tick(), QStringList{deletedLine("a.avi.txt")});
    EXPECT_EQ(entriesOf(source), (QStringList{"README", "a.AVI"}));
    EXPECT_EQ(entriesOf(destination), QStringList{"a.avi.txt"});
}

TEST_F(Cycle, SameNameAndSizeDeletesTheSourceOnlyWhenTheContentsAreEqual) {
    writeBytes(in("a.bin"), "same bytes");
    writeBytes(out("a.bin"), "same bytes");
    EXPECT_EQ(tick(), QStringList{"Source allready exist - " + deletedLine("a.bin")});
    EXPECT_TRUE(entriesOf(source).isEmpty());
    EXPECT_EQ(data.CopiedFiles.keys(), TextArray(QStringList()));

    writeBytes(in("a.bin"), "mine......");
    EXPECT_EQ(tick(),
              (QStringList{"Renaming " + in("a.bin") + " -> 001 a.bin", moveLine("001 a.bin")}));
    EXPECT_EQ(readBytes(out("a.bin")), "same bytes");
    EXPECT_EQ(readBytes(out("001 a.bin")), "mine......");
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
    EXPECT_EQ(lines.count(moveLine("b.txt")), 1) << "the restarted pass does not move twice";
    EXPECT_EQ(readBytes(out("003 a.avi")), "new video");
    EXPECT_EQ(readBytes(out("a.avi")), "other");
    EXPECT_EQ(entriesOf(source), QStringList{"002 a.avi"});
}

TEST_F(Cycle, ACopyErrorNeverDeletesADestinationFileItDidNotWrite) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    writeBytes(in("a.bin"), patternBytes(2'000'000));
    duringNextCopy([&] { writeBytes(out("a.bin"), "written by someone else"); });

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), copyErrorLine(kDestinationExists)}));
    EXPECT_EQ(readBytes(out("a.bin")), "written by someone else");
    EXPECT_EQ(fs::facts(in("a.bin"))->size, 2'000'000);
}

TEST_F(Cycle, TicksArrivingDuringACopyReturnAtOnceAndScanNowRestartsTheTimer) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    writeBytes(in("a.bin"), patternBytes(3'000'000));
    data.My.ScanInterval = 7;
    bool busyDuringCopy = false;
    duringNextCopy([&] {
        busyDuringCopy = engine.ScanBusy();
        engine.Timer_Timer();
        engine.butGoTimer_Click();
    });

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), "Start Scanning...", "Scanning complete !",
                                   deletedLine("a.bin")}));
    EXPECT_TRUE(busyDuringCopy);
    EXPECT_TRUE(engine.Timer().isActive());
    EXPECT_EQ(engine.Timer().interval(), 7000);
}

TEST_F(Cycle, AbandonStopsTheCopyAtItsNextYieldAndLeavesNoPartialFile) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    writeBytes(in("a.bin"), patternBytes(3'000'000));
    writeBytes(in("b.bin"), "b");
    engine.Timer().start(5000);
    duringNextCopy([&] { engine.Abandon(); });

    EXPECT_EQ(tick().size(), 1) << "only the line of the interrupted copy";
    EXPECT_TRUE(entriesOf(destination).isEmpty());
    EXPECT_EQ(entriesOf(source), (QStringList{"a.bin", "b.bin"}));
    EXPECT_FALSE(engine.Timer().isActive());
    EXPECT_TRUE(tick().isEmpty()) << "an abandoned engine does not tick again";
}

TEST_F(Cycle, UnusableFolderSettingsAreRefusedAndCleared) {
    writeBytes(in("precious.avi"), "only copy");
    const QString link = dir.path() + "/link";
    ASSERT_TRUE(QFile::link(dir.path() + "/in", link));
    data.My.Destination = link + "/../link/";

    EXPECT_FALSE(engine.ValidateDirectories());
    EXPECT_EQ(takeLog(), QStringList{"Error same Directory for My.Source and My.Destination '" +
                                     source + "'"});
    EXPECT_TRUE(data.My.Destination.isEmpty());
    EXPECT_TRUE(tick().isEmpty());
    EXPECT_EQ(readBytes(in("precious.avi")), "only copy");

    // A watched folder below a file can never be made.
    data.My.Source = in("precious.avi/in/");
    EXPECT_EQ(tick(), QStringList{"Error creating Directory My.Source '" + data.My.Source + "'"});
    EXPECT_TRUE(data.My.Source.isEmpty());
    EXPECT_EQ(desktop.messages.size(), 2u) << "one message box for each";
}

// On one file system a move is a rename: the very inode gets the new name, whatever its size.
TEST_F(Cycle, AFileOver2GiBMovesByRenameWholeAndCorrect) {
    const qint64 size = (qint64(2) << 30) + 5;
    ASSERT_EQ(fs::append(in("huge.img"), {}), 0);
    ASSERT_TRUE(QFile::resize(in("huge.img"), size - 5));  // sparse, so quick
    ASSERT_EQ(fs::append(in("huge.img"), "tail!"), 0);
    const auto inodeOf = [](const QString& path) {
        struct stat st {};
        return ::stat(encodeLocal(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const ino_t inode = inodeOf(in("huge.img"));

    EXPECT_EQ(tick(), QStringList{moveLine("huge.img")});
    EXPECT_EQ(inodeOf(out("huge.img")), inode) << "renamed, not copied";
    QFile copy(out("huge.img"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.size(), size);
    ASSERT_TRUE(copy.seek(size - 6));
    EXPECT_EQ(copy.read(6), QByteArray("\0tail!", 6));
    EXPECT_EQ(data.CopiedFiles.keys()->at(0).section(QChar(u'\0'), 1, 1), "2147483653");
    EXPECT_EQ(data.My.SavedMegabytes, "2048");
}

TEST_F(Cycle, AnUnreadableSourceStaysAndIsReportedOnce) {
    writeBytes(in("secret.bin"), "for nobody");
    QFile::setPermissions(in("secret.bin"), {});
    if (fs::readAll(in("secret.bin"))) {
        // File modes do not bind root: the test runs again as "nobody".
        const QByteArray output = runAsOrdinaryUser("Cycle.AnUnreadableSource*");
        if (!output.contains("[ RUN      ]"))
            KW_CANNOT_RUN("cannot run a child as an unprivileged user here");
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        return;
    }
    EXPECT_EQ(tick(), QStringList{waitingLine(
                          "secret.bin", "it cannot be opened (" + fs::errorText(EACCES) + ")")});
    EXPECT_TRUE(tick().isEmpty()) << "logged once while it keeps waiting";
    EXPECT_TRUE(fs::facts(in("secret.bin")).has_value());
    EXPECT_TRUE(entriesOf(destination).isEmpty());
}

}  // namespace
