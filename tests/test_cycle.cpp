#include "core/files.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace kw;
using namespace kw::test;

namespace {

class Cycle : public ::testing::Test, public ScanRig {};

// Names keep their bytes, shell characters included; the register and the statistics learn of
// every move.
TEST_F(Cycle, NewFilesAreMovedWithTheirNamesUnchangedRecordedAndCounted) {
    data.TaskList.reset();  // a task list without entries ends the tick without TimerError
    const QString latin1 = decodeLocal("caf\xe9.bin");
    const QString shelly = "a b;$(x)'\".txt";
    for (const QString& name : {latin1, shelly, QString("B.txt")})
        writeBytes(in(name), encodeLocal(name));
    const QByteArray bytes = patternBytes(1'048'576);
    writeBytes(in("movie.avi"), bytes);

    EXPECT_EQ(tick().count(moveLine("movie.avi")), 1);

    EXPECT_TRUE(entriesOf(source).isEmpty());
    EXPECT_EQ(bytesOf(out("movie.avi")), bytes);
    EXPECT_EQ(bytesOf(out(latin1)), "caf\xe9.bin");
    EXPECT_EQ(bytesOf(out(shelly)), shelly.toUtf8());
    ASSERT_EQ(data.CopiedFiles.keys(), LoadListFile(data.My.CopyListFile));
    EXPECT_EQ(data.CopiedFiles.keys()->filter(in("movie.avi") + QChar(u'\0') + "1048576").size(),
              1);
    EXPECT_EQ(data.My.SavedFileCount, 4);
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

TEST_F(Cycle, ATwinInTheDestinationDeletesTheSource) {
    writeBytes(in("a.bin"), "same bytes");
    writeBytes(out("a.bin"), "same bytes");
    EXPECT_EQ(tick(), QStringList{"Source allready exist - " + deletedLine("a.bin")});
    EXPECT_TRUE(entriesOf(source).isEmpty());
    EXPECT_EQ(data.CopiedFiles.keys(), TextArray(QStringList()));
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
    EXPECT_EQ(bytesOf(out("003 a.avi")), "new video");
    EXPECT_EQ(entriesOf(source), QStringList{"002 a.avi"});
}

TEST_F(Cycle, ACopyErrorNeverDeletesADestinationFileItDidNotWrite) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    writeBytes(in("a.bin"), patternBytes(2'000'000));
    duringNextCopy([&] { writeBytes(out("a.bin"), "written by someone else"); });

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), copyErrorLine(kDestinationExists)}));
    EXPECT_EQ(bytesOf(out("a.bin")), "written by someone else");
    EXPECT_EQ(fs::facts(in("a.bin"))->size, 2'000'000);
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

    EXPECT_FALSE(validateFolders(engine));
    EXPECT_EQ(takeLog(), QStringList{"Error same Directory for My.Source and My.Destination '" +
                                     source + "'"});
    EXPECT_TRUE(data.My.Destination.isEmpty());
    EXPECT_TRUE(tick().isEmpty());
    EXPECT_EQ(bytesOf(in("precious.avi")), "only copy");
}

}  // namespace
