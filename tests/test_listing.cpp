#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/listing.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace kw;

// Hidden, read-only and not-UTF-8 names are listed; folders, FIFOs and links are not.
TEST(Listing, ListsOnlyRegularFilesWithTheirBytes) {
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    const QByteArray raw = "\xff\xfe name.bin";
    for (const QString& name : {QString("movie.avi"), QString(".hidden"), QString("readonly.txt"),
                                QString("sub/inner.txt"), decodeLocal(raw)}) {
        fs::makePath(ParentFolder(root + name));
        ASSERT_EQ(fs::append(root + name, "data"), 0);
    }
    ::chmod(encodeLocal(root + "readonly.txt").constData(), 0444);
    ASSERT_EQ(::mkfifo(encodeLocal(root + "fifo").constData(), 0644), 0);
    ASSERT_EQ(::symlink("movie.avi", encodeLocal(root + "link.avi").constData()), 0);

    TextArray names = ListFolderFiles(root);
    ASSERT_TRUE(ArrayHasBounds(names));
    names->sort();
    EXPECT_EQ(encodeLocal(names->join('|')), ".hidden|movie.avi|readonly.txt|" + raw);
    EXPECT_EQ(FileLength(root + decodeLocal(raw)), 4);
    EXPECT_FALSE(ArrayHasBounds(ListFolderFiles(root + "missing/")));
}

TEST(FileFacts, SizesOver2GiB) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/f";
    ASSERT_EQ(fs::append(file, {}), 0);
    ASSERT_EQ(::truncate(encodeLocal(file).constData(), 3LL * 1024 * 1024 * 1024 + 7), 0);
    EXPECT_EQ(FileLength(file), 3LL * 1024 * 1024 * 1024 + 7);
}
