#include "platform/fs.h"
#include "scan/bincopy.h"
#include "scan/failure.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTimer>

#include <cerrno>

using namespace kw;
using namespace kw::test;

namespace {

class BinCopyTest : public ::testing::Test, public ScanRig {
protected:
    int copy(const QString& name, CopyReport* report = nullptr) {
        return BinCopy(desktop, in(name), destination, true, "Neue Datei kopieren", report);
    }
};

TEST_F(BinCopyTest, CopiesChunkByChunkWithAProgressValueAfterEachAndAFinalOne) {
    const std::pair<qint64, std::vector<qint64>> cases[] = {
        {2'500'000, {1'024'000, 2'048'000, 2'500'000}},
        {kCopyChunk, {1'024'000, 1'024'000}},  // the final empty read shows 100%
        {0, {0}},
    };
    for (const auto& [size, values] : cases) {
        const QString name = QString::number(size);
        const QByteArray bytes = patternBytes(size);
        writeBytes(in(name), bytes);
        ASSERT_EQ(copy(name), kCopied) << size;
        EXPECT_EQ(readBytes(out(name)), bytes) << size;
        EXPECT_EQ(readBytes(in(name)), bytes) << "the source is left to the caller";
        EXPECT_EQ(desktop.progress.back().maximum, size);
        EXPECT_EQ(desktop.progress.back().values, values) << size;
        EXPECT_TRUE(desktop.progress.back().destroyed);
    }
    EXPECT_EQ(entriesOf(destination), (QStringList{"0", "1024000", "2500000"}))
        << "no temporary file stays behind";
    EXPECT_EQ(desktop.progress[0].message, in("2500000") + " -> " + out("2500000"));
}

TEST_F(BinCopyTest, ResultCodesBeforeAnyByteIsCopied) {
    EXPECT_EQ(copy("missing.bin"), kSourceMissing);
    writeBytes(in("a.bin"), "new");
    writeBytes(out("a.bin"), "old");
    EXPECT_EQ(copy("a.bin"), kDestinationExists);
    EXPECT_EQ(readBytes(out("a.bin")), "old");
    EXPECT_EQ(BinCopy(desktop, in("a.bin"), out("a.bin/sub"), false, ""), kFolderNotCreated);
    EXPECT_TRUE(desktop.progress.empty()) << "no window for a copy that never started";
}

// A download that finishes by renaming the complete file over the old name: the copy of the
// old file must not count, or the new file would be deleted unseen.
TEST_F(BinCopyTest, ASourceReplacedDuringTheCopyFailsAndLeavesNoCopy) {
    writeBytes(in("replaced.bin"), patternBytes(3'000'000));
    QTimer::singleShot(0, [&] {
        writeBytes(in("next"), "the finished download");
        fs::removeFile(in("replaced.bin"));
        fs::renameNoReplace(in("next"), in("replaced.bin"));
    });

    EXPECT_EQ(copy("replaced.bin"), kSourceChanged);
    EXPECT_TRUE(entriesOf(destination).isEmpty());
    EXPECT_EQ(readBytes(in("replaced.bin")), "the finished download");
}

TEST_F(BinCopyTest, ADestinationFolderThatVanishesDuringTheCopyFails) {
    writeBytes(in("a.bin"), patternBytes(3'000'000));
    QTimer::singleShot(0, [&] {
        for (const QString& name : entriesOf(destination))
            fs::removeFile(out(name));
        QDir().rmdir(destination);
    });

    CopyReport report;
    EXPECT_EQ(copy("a.bin", &report), kSystemFailure + ENOENT);
    EXPECT_TRUE(report.partialRemoved);
    EXPECT_EQ(fs::facts(in("a.bin"))->size, 3'000'000);
}

TEST_F(BinCopyTest, RenamesNeverReplaceAnExistingFile) {
    writeBytes(in("a.avi"), "a");
    writeBytes(in("001 b.avi"), "b");
    EXPECT_EQ(fs::problemOf(fs::renameNoReplace(in("a.avi"), in("001 b.avi"))),
              fs::Problem::Exists);
    EXPECT_EQ(fs::renameNoReplace(in("a.avi"), in("001 a.avi")), 0);
    EXPECT_EQ(readBytes(in("001 a.avi")), "a");
    EXPECT_EQ(readBytes(in("001 b.avi")), "b");
    EXPECT_FALSE(fs::facts(in("a.avi")));
}

}  // namespace
