#include "platform/textcodec.h"
#include "platform/writers.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
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

}  // namespace
