#include "platform/fstraits.h"
#include "platform/textcodec.h"
#include "platform/writers.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scratchfs.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

using namespace kw;
using namespace kw::test;

namespace {

struct stat statOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::stat(encodeLocal(path).constData(), &st), 0) << path.toStdString();
    return st;
}

bool writtenInSnapshot(const QString& path) {
    const struct stat st = statOf(path);
    return fs::WritersSnapshot::take().written(st.st_dev, st.st_ino);
}

// Whether every process's open files show to this process: not in a sandbox whose own first
// process is hidden.
bool rootSeesEveryProcess() {
    QDir proc("/proc");
    for (const QString& pid : proc.entryList(QDir::Dirs)) {
        bool number = false;
        pid.toInt(&number);
        if (!number)
            continue;
        const int fd = ::open(("/proc/" + pid + "/fdinfo").toUtf8().constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && errno != ENOENT)
            return false;
        if (fd >= 0)
            ::close(fd);
    }
    return true;
}

class Writers : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        ASSERT_TRUE(m_dir.isValid());
    }
    QString path(const QString& name) const { return m_dir.path() + "/" + name; }
    QTemporaryDir m_dir;
};

TEST_F(Writers, AFileAnotherProgramHoldsForWritingIsSeenAndOneHeldForReadingIsNot) {
    const QString download = path("download.bin");
    Writer writer(download, 2, 10, 60'000);
    ASSERT_TRUE(writer.waitOpened());

    const QString finished = path("finished.bin");
    QFile(finished).open(QIODevice::WriteOnly);
    QProcess reader;
    reader.setStandardInputFile(finished);
    reader.start("sleep", {"60"});
    ASSERT_TRUE(reader.waitForStarted());

    EXPECT_TRUE(writtenInSnapshot(download));
    EXPECT_FALSE(writtenInSnapshot(finished));
    // Renamed while open: the snapshot follows the open file, not the name.
    ASSERT_EQ(::rename(encodeLocal(download).constData(), encodeLocal(path("moved")).constData()),
              0);
    EXPECT_TRUE(writtenInSnapshot(path("moved")));

    reader.kill();
    reader.waitForFinished();
}

TEST_F(Writers, RootSeesEveryProcessAndAnOrdinaryUserOnlyItsOwn) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("needs root to look as root and as another user");
    const QString download = path("download.bin");
    Writer writer(download, 2, 10, 60'000);
    ASSERT_TRUE(writer.waitOpened());
    const fs::WritersSnapshot asRoot = fs::WritersSnapshot::take();
    EXPECT_EQ(asRoot.sawEveryProcess(), rootSeesEveryProcess())
        << "a sandbox may hide some processes even from root";
    const struct stat st = statOf(download);
    EXPECT_TRUE(asRoot.written(st.st_dev, st.st_ino));

    // A child process that becomes nobody and answers in its exit code.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(9);
        const fs::WritersSnapshot asNobody = fs::WritersSnapshot::take();
        ::_exit((asNobody.sawEveryProcess() ? 1 : 0) |
                (asNobody.written(st.st_dev, st.st_ino) ? 2 : 0));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: claims to have seen every process, 2: saw root's writer";
}

// A few hundred processes, as a busy desktop has.
TEST_F(Writers, ASnapshotOfSomeHundredProcessesTakesMilliseconds) {
    std::vector<pid_t> sleepers;
    for (int i = 0; i < 300; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        ASSERT_GT(pid, 0);
        sleepers.push_back(pid);
    }
    QElapsedTimer clock;
    clock.start();
    const fs::WritersSnapshot snapshot = fs::WritersSnapshot::take();
    const qint64 elapsedMs = clock.elapsed();
    for (const pid_t pid : sleepers) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_GE(snapshot.processes(), 300);
    RecordProperty("processes", snapshot.processes());
    RecordProperty("milliseconds", int(elapsedMs));
    std::printf("snapshot of %d processes: %lld ms\n", snapshot.processes(), elapsedMs);
    EXPECT_LT(elapsedMs, 2000);
}

// Traits of the file systems the tests can make.
TEST(FileSystemTraits, LeasesProveNothingOnFuseAndCoarseTimesWantTwoSeconds) {
    QTemporaryDir dir;
    struct Case {
        ScratchFileSystem::Type type;
        bool leasesProve;
        int stillSeconds;
    };
    const Case cases[] = {{ScratchFileSystem::Type::Tmpfs, true, 0},
                          {ScratchFileSystem::Type::Ramfs, true, 0},
                          {ScratchFileSystem::Type::Exfat, false, 2}};
    for (const Case& c : cases) {
        QString why;
        auto made = ScratchFileSystem::make(
            c.type, dir.path() + "/fs" + QString::number(int(c.type)), 16 << 20, &why);
        if (!made)
            KW_CANNOT_RUN(why.toStdString());
        const int fd = ::open(encodeLocal(made->mountPoint()).constData(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        const fs::FileSystemTraits traits = fs::traitsOf(fd);
        ::close(fd);
        EXPECT_EQ(traits.leasesProve, c.leasesProve) << int(c.type);
        EXPECT_EQ(traits.stillSeconds, c.stillSeconds) << int(c.type);
        EXPECT_FALSE(traits.network);
    }
    // No descriptor: the cautious answer.
    EXPECT_FALSE(fs::traitsOf(-1).leasesProve);
    EXPECT_EQ(fs::traitsOf(-1).stillSeconds, 2);
}

TEST(FileSystemTraits, AFolderIsWritableUnlessMountedReadOnlyOrClosedToTheUser) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("needs root to mount and to become another user");
    QTemporaryDir dir;
    QString why;
    auto tmpfs =
        ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, dir.path() + "/fs", 1 << 20, &why);
    if (!tmpfs)
        KW_CANNOT_RUN(why.toStdString());
    const QByteArray mount = encodeLocal(tmpfs->mountPoint());
    ASSERT_EQ(::chmod(mount.constData(), 0755), 0);
    const int fd = ::open(mount.constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fs::folderWritable(fd), 0);

    // Another user, whom the mode shuts out; the check takes the effective ids.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 0) != 0 || ::setresuid(65534, 65534, 0) != 0)
            ::_exit(9);
        ::_exit(fs::folderWritable(fd) == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    QProcess remount;
    remount.start("mount", {"-o", "remount,ro", tmpfs->mountPoint()});
    ASSERT_TRUE(remount.waitForFinished());
    ASSERT_EQ(remount.exitCode(), 0);
    EXPECT_EQ(fs::folderWritable(fd), EROFS);
    ::close(fd);
}

TEST(FileSystemTraits, DescriptorsLeftCountsTheFilesThisProcessHoldsOpen) {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit lowered = saved;
    lowered.rlim_cur = 200;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const qint64 before = fs::descriptorsLeft();
    std::vector<int> held;
    for (int i = 0; i < 10; ++i)
        held.push_back(::open("/dev/null", O_RDONLY));
    const qint64 after = fs::descriptorsLeft();
    for (const int fd : held)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_GT(before, 0);
    EXPECT_LT(before, 200);
    EXPECT_EQ(after, before - 10);
}

}  // namespace
