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

namespace {

void touch(const QString& path, int mode = 0644) {
    ASSERT_EQ(fs::append(path, "data"), 0);
    ::chmod(encodeLocal(path).constData(), mode);
}

}  // namespace

TEST(Listing, ListsOnlyRegularFilesHiddenAndReadOnlyIncluded) {
    QTemporaryDir dir;
    const QString root = dir.path() + "/";
    touch(root + "movie.avi");
    touch(root + ".hidden");
    touch(root + "readonly.txt", 0444);
    ASSERT_EQ(fs::makePath(root + "sub"), 0);
    touch(root + "sub/inner.txt");
    ASSERT_EQ(::mkfifo(encodeLocal(root + "fifo").constData(), 0644), 0);
    ASSERT_EQ(::symlink("movie.avi", encodeLocal(root + "link.avi").constData()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray socketPath = encodeLocal(root + "sock");
    ::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    TextArray names = ListFolderFiles(root);
    ASSERT_TRUE(ArrayHasBounds(names));
    names->sort();
    EXPECT_EQ(*names, (QStringList{".hidden", "movie.avi", "readonly.txt"}));
    ::close(sock);
}

TEST(Listing, EmptyFoldersAndMissingFolders) {
    QTemporaryDir dir;
    ASSERT_EQ(fs::makePath(dir.path() + "/only/sub"), 0);
    EXPECT_EQ(ListFolderFiles(dir.path() + "/only/"), TextArray(QStringList{}));
    EXPECT_FALSE(ArrayHasBounds(ListFolderFiles(dir.path() + "/missing/")));
}

TEST(Listing, NamesThatAreNotUtf8ComeBackAsTheSameBytes) {
    QTemporaryDir dir;
    const QByteArray raw = "\xff\xfe name.bin";
    const int fd =
        ::open((encodeLocal(dir.path()) + "/" + raw).constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const TextArray names = ListFolderFiles(dir.path());
    ASSERT_EQ(ArrayUpperBound(names), 0);
    EXPECT_EQ(encodeLocal((*names)[0]), raw);
    EXPECT_EQ(FileLength(dir.path() + "/" + (*names)[0]), 0);
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
    EXPECT_EQ(FileNameOf("a.avi"), "a.avi");
}

TEST(FileFacts, SizesAndCreationTimes) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/f";
    touch(file);
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
}

TEST(FileFacts, SparseFilesOver2GiBReportTheirWholeSize) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/big";
    const int fd = ::open(encodeLocal(file).constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 3LL * 1024 * 1024 * 1024 + 7), 0);
    ::close(fd);
    EXPECT_EQ(FileLength(file), 3LL * 1024 * 1024 * 1024 + 7);
}
