#include "platform/fs.h"
#include "scan/bincopy.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

using namespace kw;
using namespace kw::test;

namespace {

class BinCopyTest : public ::testing::Test, public ScanRig {
protected:
    fs::CopyProblem copy(const QString& name) {
        return BinCopy(desktop, in(name), destination, true, "Neue Datei kopieren").problem;
    }
};

TEST_F(BinCopyTest, CopiesChunkByChunkWithAProgressValueAfterEachAndNeverReplaces) {
    const QByteArray bytes = patternBytes(2'500'000);
    writeBytes(in("a.bin"), bytes);
    ASSERT_EQ(copy("a.bin"), fs::CopyProblem::None);
    EXPECT_EQ(bytesOf(out("a.bin")), bytes);
    EXPECT_EQ(bytesOf(in("a.bin")), bytes) << "the source is left to the caller";
    EXPECT_EQ(desktop.progress.back().values,
              (std::vector<qint64>{1'024'000, 2'048'000, 2'500'000}));
    EXPECT_EQ(entriesOf(destination), QStringList{"a.bin"}) << "no temporary file stays behind";

    writeBytes(in("a.bin"), "new");
    EXPECT_EQ(copy("a.bin"), fs::CopyProblem::NameTaken);
    EXPECT_EQ(bytesOf(out("a.bin")), bytes);
}

// A download that finishes by renaming the complete file over the old name: the copy of the
// old file must not count, or the new file would be deleted unseen.
TEST_F(BinCopyTest, ASourceReplacedDuringTheCopyFailsAndLeavesNoCopy) {
    writeBytes(in("replaced.bin"), patternBytes(3'000'000));
    duringNextCopy([&] {
        writeBytes(in("next"), "the finished download");
        fs::removeFile(in("replaced.bin"));
        fs::renameNoReplace(in("next"), in("replaced.bin"));
    });

    EXPECT_EQ(copy("replaced.bin"), fs::CopyProblem::SourceChanged);
    EXPECT_TRUE(entriesOf(destination).isEmpty());
    EXPECT_EQ(bytesOf(in("replaced.bin")), "the finished download");
}

}  // namespace
