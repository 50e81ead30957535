#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/listing.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kw;

// Hidden, read-only and not-UTF-8 names are listed; folders, FIFOs, links and sockets are not.
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
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = encodeLocal(root + "sock");
    ::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    TextArray names = ListFolderFiles(root);
    ::close(sock);
    ASSERT_TRUE(ArrayHasBounds(names));
    names->sort();
    EXPECT_EQ(encodeLocal(names->join('|')), ".hidden|movie.avi|readonly.txt|" + raw);
    EXPECT_EQ(FileLength(root + decodeLocal(raw)), 4);

    EXPECT_EQ(ListFolderFiles(root + "sub/"), TextArray(QStringList{"inner.txt"}));
    fs::removeFile(root + "sub/inner.txt");
    EXPECT_EQ(ListFolderFiles(root + "sub/"), TextArray(QStringList{})) << "empty, with bounds";
    EXPECT_FALSE(ArrayHasBounds(ListFolderFiles(root + "missing/")));
}

TEST(PathFacts, ExtensionsNamesAndParents) {
    EXPECT_EQ(FileExtension("/in/movie.part.avi"), "avi");
    EXPECT_EQ(FileExtension("/in/README"), "");
    EXPECT_EQ(FileExtension("/my.dir/README"), "dir/README");
    EXPECT_EQ(FileExtension("/in/name."), "");
    EXPECT_EQ(ParentFolder("/out/a.avi"), "/out/");
    EXPECT_EQ(ParentFolder("/out/"), "/out/");
    EXPECT_EQ(ParentFolder("a.avi"), "");
    EXPECT_EQ(FileNameOf("/out/a.avi"), "a.avi");
    EXPECT_EQ(FileNameOf("/out/"), "");
}

TEST(FileFacts, SizesOver2GiBAndCreationTimesInWholeSeconds) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/f";
    ASSERT_EQ(fs::append(file, "data"), 0);
    EXPECT_EQ(FileLength(file), 4);
    EXPECT_EQ(FileLength(dir.path() + "/missing"), -1);
    EXPECT_EQ(FileLength(dir.path()), -1);
    const QDateTime first = GetFileDate(file);
    EXPECT_EQ(first.timeSpec(), Qt::UTC);
    EXPECT_EQ(first.time().msec(), 0);
    EXPECT_LE(qAbs(first.secsTo(QDateTime::currentDateTimeUtc())), 60);
    EXPECT_EQ(GetFileDate(file), first);
    EXPECT_EQ(GetFileDate(dir.path() + "/missing"),
              QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC));

    ASSERT_EQ(::truncate(encodeLocal(file).constData(), 3LL * 1024 * 1024 * 1024 + 7), 0);
    EXPECT_EQ(FileLength(file), 3LL * 1024 * 1024 * 1024 + 7);
}
