#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <set>

using namespace kw;
using namespace kw::test;

namespace {

qint64 ageMs(const struct timespec& t) {
    return QDateTime::currentMSecsSinceEpoch() - (qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

// What happens to the files of one folder, as a watch of the test's own sees it: which files
// were opened, and whether the folder was read (listed).
class FolderActivity {
public:
    explicit FolderActivity(const QString& folder)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ::inotify_add_watch(m_fd, encodeLocal(folder).constData(), IN_OPEN | IN_ACCESS);
    }
    ~FolderActivity() { ::close(m_fd); }
    // The names opened since the last call, and whether the folder itself was listed.
    std::pair<std::set<QByteArray>, bool> take() {
        std::set<QByteArray> opened;
        bool listed = false;
        alignas(inotify_event) char buffer[64 * 1024];
        ssize_t length;
        while ((length = ::read(m_fd, buffer, sizeof buffer)) > 0)
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && (event->mask & IN_OPEN))
                    opened.insert(QByteArray(event->name));
                if (event->len == 0 && (event->mask & IN_ACCESS))
                    listed = true;
                at += ssize_t(sizeof(inotify_event)) + event->len;
            }
        return {opened, listed};
    }

private:
    int m_fd;
};

class Moves : public ::testing::Test, public ScanRig {
protected:
    // Gives the file to another user and lowers CAP_LEASE: no lease can be had on it.
    bool withoutLease(const QString& name) {
        m_noLease.emplace();
        return giveToAnotherUser(in(name)) && m_noLease->active();
    }
    // A second program writes "download.bin" in five pieces, pauseMs apart: the file waits, said
    // once, until its writer has closed it and left it alone for the quiet time, and then moves
    // whole.
    void waitsForItsWriter(int pauseMs) {
        Writer writer(in("download.bin"), 5, 200'000, pauseMs);
        ASSERT_TRUE(writer.waitOpened());
        EXPECT_EQ(tickWhileWritten(writer, "download.bin", 1'000'000, 150),
                  (QStringList{
                      "Waiting for '" + in("download.bin") + "': a program has it open for writing",
                      "Waiting for '" + in("download.bin") +
                          "': it was written here; it moves once nobody has written it for 2 s",
                      moveLine("download.bin")}));
    }
    std::optional<WithoutLeaseCapability> m_noLease;
};

TEST_F(Moves, ADownloadStillBeingWrittenWaitsAndMovesWholeOnceClosed) {
    waitsForItsWriter(400);
}

// A file that stays for as long as nothing happens to it is not opened again every tick, and a
// folder holding only such files is not even listed; the writer's close is news all the same.
TEST_F(Moves, FilesThatStayAreNotOpenedAgainAndAQuietFolderIsNotListedUntilSomethingHappens) {
    data.BlockedExtensions = QStringList{"part"};
    writeBytes(in("blocked.part"), "bytes");
    std::optional<Writer> writer(std::in_place, in("download.bin"), 2, 10, 60'000);
    ASSERT_TRUE(writer->waitOpened());
    FolderActivity activity(source);
    const QString waiting =
        "Waiting for '" + in("download.bin") + "': a program has it open for writing";
    EXPECT_EQ(tick(), QStringList{waiting});
    const auto [openedFirst, listedFirst] = activity.take();
    EXPECT_TRUE(listedFirst);
    EXPECT_EQ(openedFirst, std::set<QByteArray>{"download.bin"});

    EXPECT_EQ(tick(), QStringList());
    EXPECT_EQ(tick(), QStringList());
    const auto [openedIdle, listedIdle] = activity.take();
    EXPECT_FALSE(listedIdle) << "nothing happened in the folder";
    EXPECT_TRUE(openedIdle.empty());

    // A new file makes the folder worth listing; the file held open is looked at, not opened.
    writeBytes(in("more.part"), "bytes");
    activity.take();
    EXPECT_EQ(tick(), QStringList());
    const auto [openedAfterNews, listedAfterNews] = activity.take();
    EXPECT_TRUE(listedAfterNews);
    EXPECT_TRUE(openedAfterNews.empty());

    // The writer ends: its close names the file, which is decided again and waits out the quiet
    // time.
    writer.reset();
    EXPECT_EQ(tick(), QStringList{"Waiting for '" + in("download.bin") +
                                  "': it was written here; it moves once nobody has written it "
                                  "for 2 s"});
}

TEST_F(Moves, WithoutALeaseAFileMovesOnlyAfterHoldingStillForATickAndTwoSeconds) {
    writeBytes(in("download.bin"), {});
    if (!withoutLease("download.bin"))
        KW_CANNOT_RUN("making a file of another user needs root");
    // The writer is a process of this machine, so its open file shows in /proc.
    waitsForItsWriter(300);
    // The tick that moved it came two seconds after the last write at the earliest.
    EXPECT_GE(ageMs(statOf(out("download.bin")).st_mtim), 2000);
}

TEST_F(Moves, AFileSavedUnderTheSourceNameAfterTheCopySurvivesTheDeletion) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    data.My.SoundFile = "copy.wav";  // played between the copy and the deletion
    writeBytes(in("a.bin"), "first version");
    desktop.onPlaySound = [&] { saveOver(in("a.bin"), "second version"); };

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), "Trying to Delete '" + in("a.bin") +
                                                          "' .....Source changed, kept."}));
    EXPECT_EQ(bytesOf(in("a.bin")), "second version");
    EXPECT_EQ(bytesOf(out("a.bin")), "first version");
}

// Under the name in the destination: a link to the source, a FIFO, and a file that differs only
// after the first megabyte. None is a twin: each source moves as "001 ...".
TEST_F(Moves, OnlyARegularFileWithEqualContentsOverTheWholeFileIsATwin) {
    const QByteArray bytes = patternBytes(3'000'000);
    QByteArray differentLate = bytes;
    differentLate[2'500'000] = char(~bytes[2'500'000]);
    writeBytes(in("link.bin"), "link");
    writeBytes(in("fifo.bin"), "fifo");
    writeBytes(in("late.bin"), bytes);
    ASSERT_TRUE(QFile::link(in("link.bin"), out("link.bin")));
    ASSERT_EQ(::mkfifo(encodeLocal(out("fifo.bin")).constData(), 0644), 0);
    writeBytes(out("late.bin"), differentLate);

    tick();

    EXPECT_TRUE(entriesOf(source).isEmpty());
    EXPECT_EQ(bytesOf(out("001 link.bin")), "link");
    EXPECT_EQ(bytesOf(out("001 fifo.bin")), "fifo");
    EXPECT_EQ(bytesOf(out("001 late.bin")), bytes);
    EXPECT_EQ(bytesOf(out("late.bin")), differentLate);
}

TEST_F(Moves, ACopyKeepsModeAndTimesAndIsPrivateWhileItFills) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    writeBytes(in("a.bin"), patternBytes(3'000'000));
    ::chmod(encodeLocal(in("a.bin")).constData(), 0644);
    const struct timespec times[2] = {{1'000'000'000, 123'456'789}, {1'100'000'000, 987'654'321}};
    ::utimensat(AT_FDCWD, encodeLocal(in("a.bin")).constData(), times, 0);
    // After every chunk: a temporary copy that is not yet whole is for its owner's eyes only.
    std::set<mode_t> modesWhileFilling;
    desktop.onCopyProgress = [&] {
        for (const QString& partial : entriesOf(destination).filter(".Kopierwart-")) {
            if (statOf(out(partial)).st_size < 3'000'000)
                modesWhileFilling.insert(statOf(out(partial)).st_mode & 07777);
        }
    };

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), deletedLine("a.bin")}));
    EXPECT_EQ(modesWhileFilling, std::set<mode_t>{0600});
    const struct stat moved = statOf(out("a.bin"));
    EXPECT_EQ(moved.st_mode & 07777, 0644u);
    EXPECT_EQ(moved.st_atim.tv_nsec, times[0].tv_nsec);
    EXPECT_EQ(moved.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(moved.st_mtim.tv_nsec, times[1].tv_nsec);
}

// A power cut must never find the name without its data. Seen from outside: the system calls
// of a real copy across file systems, traced. On tmpfs one flush of the whole file system may
// stand for the copy's own; on exFAT, through FUSE, such a flush may stop short of the disk, and
// the copy itself must be flushed.
class FlushedCopy : public Moves, public ::testing::WithParamInterface<ScratchFileSystem::Type> {};

TEST_P(FlushedCopy, TheCopyIsFlushedBeforeItGetsItsName) {
    const bool wholeFileSystemFlushCounts = GetParam() == ScratchFileSystem::Type::Tmpfs;
    if (qEnvironmentVariableIsSet("KW_TRACED")) {
        QString why;
        const auto target = ScratchFileSystem::make(GetParam(), destination, 16 << 20, &why);
        if (!target)
            KW_CANNOT_RUN(why.toStdString());
        writeBytes(in("a.bin"), patternBytes(2'000'000));
        EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), deletedLine("a.bin")}));
        return;
    }
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QTemporaryFile trace;
    ASSERT_TRUE(trace.open());
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KW_TRACED", "1");
    child.setProcessEnvironment(environment);
    child.start("strace",
                {"-f", "-qq", "-e", "trace=openat,fsync,fdatasync,syncfs,renameat2", "-o",
                 trace.fileName(), QCoreApplication::applicationFilePath(),
                 QString("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    child.waitForFinished(120'000);
    const QByteArray output = child.readAllStandardOutput();
    if (!output.contains("[ RUN      ]") || output.contains("SKIPPED"))
        KW_CANNOT_RUN("cannot trace a child here");
    ASSERT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();

    // A call on fd, finished on its line or "<unfinished ...>" while another process ran.
    const auto calls = [](const QByteArray& line, const char* call, const QByteArray& fd) {
        const QByteArray start = call + ("(" + fd);
        return !fd.isEmpty() && (line.contains(start + ")") || line.contains(start + " <"));
    };
    QByteArray partialFd;
    QByteArray destinationFd;
    bool flushed = false;
    for (const QByteArray& line : trace.readAll().split('\n')) {
        const QByteArray result = line.mid(line.lastIndexOf('=') + 1).trimmed();
        if (line.contains("openat(") && line.contains(".Kopierwart-") && line.contains("O_CREAT"))
            partialFd = result;
        else if (line.contains("openat(") && line.contains("/out/\"") &&
                 line.contains("O_DIRECTORY"))
            destinationFd = result;
        else if (calls(line, "fsync", partialFd) || calls(line, "fdatasync", partialFd) ||
                 (wholeFileSystemFlushCounts && !partialFd.isEmpty() &&
                  calls(line, "syncfs", destinationFd)))
            flushed = true;
        else if (line.contains("renameat2(") && line.contains(".Kopierwart-")) {
            EXPECT_TRUE(flushed) << "renamed before it was flushed";
            return;
        }
    }
    ADD_FAILURE() << "no copy was traced";
}

INSTANTIATE_TEST_SUITE_P(OnTmpfsAndExfat, FlushedCopy,
                         ::testing::Values(ScratchFileSystem::Type::Tmpfs,
                                           ScratchFileSystem::Type::Exfat));

}  // namespace
