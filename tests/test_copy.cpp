#include "platform/fs.h"
#include "scan/bincopy.h"
#include "scan/failure.h"
#include "scan/fileoperation.h"
#include "tests/support/recording.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>

using namespace kw;
using namespace kw::test;

namespace {

class BinCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureCoreApplication();
        ASSERT_TRUE(dir.isValid());
        in = dir.path() + "/in/";
        out = dir.path() + "/out/";
        fs::makePath(in);
        fs::makePath(out);
    }

    int copy(const QString& name, CopyReport* report = nullptr) {
        return BinCopy(desktop, in + name, out, false, true, "Neue Datei kopieren", report);
    }

    QTemporaryDir dir;
    QString in;
    QString out;
    RecordingDesktop desktop;
};

TEST_F(BinCopyTest, CopiesInChunksShowingProgressAndClosesTheWindow) {
    const QByteArray bytes = patternBytes(2'500'000);
    writeBytes(in + "movie.avi", bytes);

    ASSERT_EQ(copy("movie.avi"), kCopied);

    EXPECT_EQ(readBytes(out + "movie.avi"), bytes);
    EXPECT_EQ(readBytes(in + "movie.avi"), bytes) << "BinCopy leaves the source to its caller";
    EXPECT_EQ(entriesOf(out), QStringList{"movie.avi"}) << "no temporary file stays behind";
    ASSERT_EQ(desktop.progress.size(), 1u);
    const RecordingProgress::Calls& window = desktop.progress[0];
    EXPECT_EQ(window.minimum, 0);
    EXPECT_EQ(window.maximum, 2'500'000);
    EXPECT_EQ(window.caption, "Neue Datei kopieren");
    EXPECT_TRUE(window.showBar);
    EXPECT_EQ(window.message, in + "movie.avi -> " + out + "movie.avi");
    EXPECT_EQ(window.values, (std::vector<qint64>{1'024'000, 2'048'000, 2'500'000}));
    EXPECT_TRUE(window.destroyed);
}

TEST_F(BinCopyTest, EmptyFileAndExactChunkMultipleGetAFinalEmptyPass) {
    writeBytes(in + "empty", {});
    const QByteArray chunk = patternBytes(kCopyChunk);
    writeBytes(in + "chunk", chunk);

    ASSERT_EQ(copy("empty"), kCopied);
    ASSERT_EQ(copy("chunk"), kCopied);

    EXPECT_TRUE(fs::facts(out + "empty").has_value());
    EXPECT_EQ(fs::facts(out + "empty")->size, 0);
    EXPECT_EQ(readBytes(out + "chunk"), chunk);
    ASSERT_EQ(desktop.progress.size(), 2u);
    EXPECT_EQ(desktop.progress[0].maximum, 0);
    EXPECT_EQ(desktop.progress[0].values, std::vector<qint64>{0});
    EXPECT_EQ(desktop.progress[1].values, (std::vector<qint64>{1'024'000, 1'024'000}))
        << "the last value equals the maximum: 100%";
}

TEST_F(BinCopyTest, ResultCodesBeforeAnyByteIsCopied) {
    EXPECT_EQ(copy("missing.bin"), kSourceMissing);

    writeBytes(in + "a.bin", "new");
    writeBytes(out + "a.bin", "old");
    EXPECT_EQ(copy("a.bin"), kDestinationExists);
    EXPECT_EQ(readBytes(out + "a.bin"), "old");

    writeBytes(dir.path() + "/file", "x");
    EXPECT_EQ(BinCopy(desktop, in + "a.bin", dir.path() + "/file/sub", false, false, ""),
              kFolderNotCreated);
    EXPECT_TRUE(desktop.progress.empty()) << "no window for a copy that never started";

    EXPECT_EQ(BinCopy(desktop, in + "a.bin", dir.path() + "/new/deep/", false, false, ""), kCopied);
    EXPECT_EQ(readBytes(dir.path() + "/new/deep/a.bin"), "new");
    EXPECT_EQ(BinCopy(desktop, in + "a.bin", out, true, false, ""), kCopied);
    EXPECT_EQ(readBytes(out + "a.bin"), "new");
}

// A download that finishes by renaming the complete file over the old name: the copy of the
// old file must not count, or the new file would be deleted unseen.
TEST_F(BinCopyTest, ASourceReplacedDuringTheCopyFailsAndLeavesNoCopy) {
    writeBytes(in + "replaced.bin", patternBytes(3'000'000));
    QTimer::singleShot(0, [&] {
        writeBytes(in + "next", "the finished download");
        fs::removeFile(in + "replaced.bin");
        fs::renameNoReplace(in + "next", in + "replaced.bin");
    });

    EXPECT_EQ(copy("replaced.bin"), kSourceChanged);
    EXPECT_TRUE(entriesOf(out).isEmpty());
    EXPECT_EQ(readBytes(in + "replaced.bin"), "the finished download");
}

TEST_F(BinCopyTest, ADestinationFolderThatVanishesDuringTheCopyFails) {
    writeBytes(in + "a.bin", patternBytes(3'000'000));
    QTimer::singleShot(0, [&] {
        for (const QString& name : entriesOf(out))
            fs::removeFile(out + name);
        QDir().rmdir(out);
    });

    CopyReport report;
    const int result = copy("a.bin", &report);

    EXPECT_EQ(result, kSystemFailure + ENOENT);
    EXPECT_TRUE(report.partialRemoved);
    EXPECT_FALSE(fs::isDirectory(out));
    EXPECT_EQ(fs::facts(in + "a.bin")->size, 3'000'000);
}

class FileOperationTest : public ::testing::Test {
protected:
    void SetUp() override {
        in = dir.path() + "/in/";
        fs::makePath(in);
        writeBytes(in + "a.avi", "a");
    }
    QTemporaryDir dir;
    QString in;
};

TEST_F(FileOperationTest, RenameTakesABareNameInTheSourceFolderAndNeverReplaces) {
    writeBytes(in + "001 b.avi", "b");

    EXPECT_FALSE(FileOperationQuiet(FileOp::Rename, in + "a.avi", "001 b.avi"));
    EXPECT_EQ(readBytes(in + "001 b.avi"), "b");
    EXPECT_TRUE(FileOperationQuiet(FileOp::Rename, in + "a.avi", "001 a.avi"));
    EXPECT_EQ(entriesOf(in), (QStringList{"001 a.avi", "001 b.avi"}));
    EXPECT_TRUE(FileOperationQuiet(FileOp::Rename, in + "001 a.avi", dir.path() + "/moved.avi"));
    EXPECT_EQ(readBytes(dir.path() + "/moved.avi"), "a");
    EXPECT_FALSE(FileOperationQuiet(FileOp::Rename, in + "gone.avi", "x.avi"));
}

TEST_F(FileOperationTest, CopyMoveAndDelete) {
    const QString target = dir.path() + "/target/";
    EXPECT_FALSE(FileOperationQuiet(FileOp::Copy, in + "a.avi", target)) << "folder not made";
    EXPECT_TRUE(FileOperation(FileOp::Copy, in + "a.avi", target, true));
    EXPECT_EQ(readBytes(target + "a.avi"), "a");
    EXPECT_FALSE(FileOperationQuiet(FileOp::Copy, in + "a.avi", target)) << "never replaces";

    writeBytes(in + "b.avi", "b");
    EXPECT_FALSE(FileOperationQuiet(FileOp::Move, in + "b.avi", target + "a.avi"));
    EXPECT_TRUE(FileOperationQuiet(FileOp::Move, in + "b.avi", target));
    EXPECT_EQ(readBytes(target + "b.avi"), "b");
    EXPECT_FALSE(fs::facts(in + "b.avi"));

    EXPECT_TRUE(FileOperationQuiet(FileOp::Delete, in + "a.avi", "ignored"));
    EXPECT_FALSE(FileOperationQuiet(FileOp::Delete, in + "a.avi", ""));
    EXPECT_FALSE(FileOperationQuiet(FileOp::Delete, target, "")) << "files only";
}

}  // namespace
