#include "core/files.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <QTimer>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <set>

using namespace kw;
using namespace kw::test;

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << "{\"" << texts.join("\", \"").toStdString() << "\"}";
}

namespace {

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(encodeLocal(path).constData(), &st);
    return st;
}

qint64 ageMs(const struct timespec& t) {
    return QDateTime::currentMSecsSinceEpoch() - (qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

// Saves new contents under path as editors and downloaders do: a new file renamed over it.
void saveOver(const QString& path, const QByteArray& bytes) {
    writeBytes(path + ".new", bytes);
    ::rename(encodeLocal(path + ".new").constData(), encodeLocal(path).constData());
}

class Moves : public ::testing::Test, public ScanRig {
protected:
    // Gives the file to another user and lowers CAP_LEASE: no lease can be had on it.
    bool withoutLease(const QString& name) {
        m_noLease.emplace();
        return giveToAnotherUser(in(name)) && m_noLease->active();
    }
    // Without a lease a file moves once its change time is two seconds old.
    bool heldStillLongEnough(const QString& name) {
        return waitUntil([&] { return ageMs(statOf(in(name)).st_ctim) > 2100; });
    }
    // Ticks while the writer runs, a tick in each of its pauses, and on until the file has moved;
    // answers the log lines. While the file is shorter than its final size, the writer still
    // has it open, and it must stay where it is.
    QStringList tickUntilMoved(Writer& writer, const QString& name, qint64 finalSize) {
        QStringList lines;
        while (writer.running()) {
            const bool unfinished = FileLength(in(name)) < finalSize;
            lines += tick();
            if (unfinished) {
                EXPECT_TRUE(FileExists(in(name))) << "moved while being written";
            }
            waitUntil([&] { return !writer.running(); }, 150);
        }
        EXPECT_TRUE(writer.waitClosed());
        waitUntil([&] { return !(lines += tick()).isEmpty() && !FileExists(in(name)); }, 10'000);
        EXPECT_EQ(FileLength(out(name)), finalSize);
        return lines;
    }
    std::optional<WithoutLeaseCapability> m_noLease;
};

// ---- Writers --------------------------------------------------------------------------------

TEST_F(Moves, ADownloadStillBeingWrittenWaitsAndMovesWholeOnceClosed) {
    Writer writer(in("download.bin"), 5, 200'000, 400);
    ASSERT_TRUE(writer.waitOpened());
    EXPECT_EQ(tickUntilMoved(writer, "download.bin", 1'000'000),
              (QStringList{waitingLine("download.bin", "a program has it open for writing"),
                           moveLine("download.bin")}));
}

// The writer gets in while the copy still waits at its yield: it is not kept waiting for the
// copy at all (the kernel itself would let it in only after lease-break-time, 45 s by default).
TEST_F(Moves, AWriterOpeningTheFileDuringACopyGetsInAtOnceAndTheCopyStandsBack) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    const QByteArray bytes = patternBytes(8'000'000);
    writeBytes(in("a.bin"), bytes);
    std::unique_ptr<Writer> writer;
    size_t chunksAtBreak = 0;
    duringNextCopy([&] {
        writer = std::make_unique<Writer>(in("a.bin"), 1, 10, 0);
        EXPECT_TRUE(writer->waitOpened());
        EXPECT_TRUE(writer->waitClosed());
        chunksAtBreak = desktop.progress.back().values.size();
    });

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), copyErrorLine(kSourceOpenedForWriting)}));
    ASSERT_TRUE(writer);
    EXPECT_EQ(desktop.progress.back().values.size(), chunksAtBreak) << "a chunk after the break";
    EXPECT_EQ(readBytes(in("a.bin")), bytes + QByteArray(10, 'a'));
    EXPECT_TRUE(entriesOf(destination).isEmpty());
}

TEST_F(Moves, WithoutALeaseAFileMovesOnlyAfterHoldingStillForATickAndTwoSeconds) {
    writeBytes(in("download.bin"), {});
    if (!withoutLease("download.bin"))
        KW_CANNOT_RUN("making a file of another user needs root");
    Writer writer(in("download.bin"), 5, 200'000, 300);
    ASSERT_TRUE(writer.waitOpened());

    EXPECT_EQ(tickUntilMoved(writer, "download.bin", 1'000'000),
              (QStringList{waitingLine("download.bin", "it is still being written"),
                           moveLine("download.bin")}));
    // The tick that moved it came two seconds after the last write at the earliest.
    EXPECT_GE(ageMs(statOf(out("download.bin")).st_mtim), 2000);
}

// The age is the change time's, which only the clock sets: downloads often keep a server's
// modification time, which may lie in the future.
TEST_F(Moves, WithoutALeaseAFileDatedInTheFutureMovesOnceItHeldStill) {
    writeBytes(in("future.bin"), "from a server with a fast clock");
    const struct timespec times[2] = {{0, UTIME_OMIT}, {4'102'444'800, 0}};  // 2100
    ::utimensat(AT_FDCWD, encodeLocal(in("future.bin")).constData(), times, 0);
    if (!withoutLease("future.bin"))
        KW_CANNOT_RUN("making a file of another user needs root");

    EXPECT_TRUE(tick().isEmpty()) << "first look";
    ASSERT_TRUE(heldStillLongEnough("future.bin"));
    EXPECT_EQ(tick(), QStringList{moveLine("future.bin")});
}

// The unchanged check must look at more than the size: an edit in place keeps it.
TEST_F(Moves, WithoutALeaseAnEditOfTheSameSizeDuringTheCopyKeepsTheSource) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    QByteArray bytes = patternBytes(3'000'000);
    writeBytes(in("doc.bin"), bytes);
    if (!withoutLease("doc.bin"))
        KW_CANNOT_RUN("making a file of another user needs root");
    EXPECT_TRUE(tick().isEmpty()) << "first look";
    ASSERT_TRUE(heldStillLongEnough("doc.bin"));
    bytes[0] = char(~bytes[0]);
    duringNextCopy([&] {
        QFile file(in("doc.bin"));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write(bytes.left(1));
    });

    EXPECT_EQ(tick(), (QStringList{copyLine("doc.bin"), copyErrorLine(kSourceChanged)}));
    EXPECT_EQ(readBytes(in("doc.bin")), bytes);
    EXPECT_TRUE(entriesOf(destination).isEmpty());
}

// Real users are not root: the lease cases again as "nobody", on that user's own files.
TEST(MovesAsOrdinaryUser, WritersAreSeenOnTheUsersOwnFiles) {
    if (::geteuid() != 0)
        return;  // already an ordinary user: the writer cases ran as one
    const QByteArray output = runAsOrdinaryUser("Moves.ADownload*:Moves.AWriterOpening*");
    if (!output.contains("[ RUN      ]"))
        KW_CANNOT_RUN("cannot run a child as an unprivileged user here");
    EXPECT_TRUE(output.contains("[  PASSED  ] 2 tests")) << output.toStdString();
}

// ---- Deleting only what was checked ---------------------------------------------------------

TEST_F(Moves, AFileSavedUnderTheSourceNameDuringTheComparisonSurvives) {
    const QByteArray bytes = patternBytes(3'000'000);
    writeBytes(in("a.bin"), bytes);
    writeBytes(out("a.bin"), bytes);
    QTimer::singleShot(0, [&] { saveOver(in("a.bin"), "saved meanwhile"); });

    EXPECT_TRUE(tick().isEmpty()) << "the comparison stands back";
    EXPECT_EQ(readBytes(in("a.bin")), "saved meanwhile");
    EXPECT_EQ(tick(),
              (QStringList{"Renaming " + in("a.bin") + " -> 001 a.bin", moveLine("001 a.bin")}));
}

TEST_F(Moves, AFileSavedUnderTheSourceNameAfterTheCopySurvivesTheDeletion) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    data.My.SoundFile = "copy.wav";  // played between the copy and the deletion
    writeBytes(in("a.bin"), "first version");
    desktop.onPlaySound = [&] { saveOver(in("a.bin"), "second version"); };

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"), "Trying to Delete '" + in("a.bin") +
                                                          "' .....Source changed, kept."}));
    EXPECT_EQ(readBytes(in("a.bin")), "second version");
    EXPECT_EQ(readBytes(out("a.bin")), "first version");
}

// ---- Twins and the register -----------------------------------------------------------------

// Under the name in the destination: a link to the source, a folder, a FIFO, and a file that
// differs only after the first megabyte. None is a twin: each source moves as "001 ...".
TEST_F(Moves, OnlyARegularFileWithEqualContentsOverTheWholeFileIsATwin) {
    const QByteArray bytes = patternBytes(3'000'000);
    QByteArray differentLate = bytes;
    differentLate[2'500'000] = char(~bytes[2'500'000]);
    for (const QString name : {"link.bin", "folder.bin", "fifo.bin"})
        writeBytes(in(name), name.toUtf8());
    writeBytes(in("late.bin"), bytes);
    ASSERT_TRUE(QFile::link(in("link.bin"), out("link.bin")));
    fs::makePath(out("folder.bin"));
    ASSERT_EQ(::mkfifo(encodeLocal(out("fifo.bin")).constData(), 0644), 0);
    writeBytes(out("late.bin"), differentLate);

    tick();

    EXPECT_TRUE(entriesOf(source).isEmpty());
    for (const QString name : {"link.bin", "folder.bin", "fifo.bin"})
        EXPECT_EQ(readBytes(out("001 " + name)), name.toUtf8());
    EXPECT_EQ(fs::facts(out("link.bin"))->kind, fs::Kind::Other);
    EXPECT_TRUE(fs::isDirectory(out("folder.bin")));
    EXPECT_EQ(readBytes(out("001 late.bin")), bytes);
    EXPECT_EQ(readBytes(out("late.bin")), differentLate);
    ::rmdir(encodeLocal(out("folder.bin")).constData());
}

// Register and run list know it, but the destination no longer holds it: it is new.
TEST_F(Moves, AFileMovedBackByHandIsMovedAgain) {
    writeBytes(in("a.bin"), "video");
    EXPECT_EQ(tick(), QStringList{moveLine("a.bin")});
    ASSERT_EQ(fs::renameNoReplace(out("a.bin"), in("a.bin")), 0);

    EXPECT_EQ(tick(), QStringList{moveLine("a.bin")});
    EXPECT_EQ(readBytes(out("a.bin")), "video");
}

TEST_F(Moves, NamesThatDifferOnlyInLetterCaseAreTwoFiles) {
    writeBytes(in("Report.txt"), "first");
    writeBytes(in("report.txt"), "other");

    EXPECT_EQ(tick().size(), 2);
    EXPECT_EQ(readBytes(out("Report.txt")), "first");
    EXPECT_EQ(readBytes(out("report.txt")), "other");
    EXPECT_EQ(engine.LBfiles().size(), 2);
    EXPECT_EQ(data.CopiedFiles.keys()->size(), 2);
}

TEST_F(Moves, TheRegisterLineIsWrittenBeforeTheSourceIsDeleted) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    writeBytes(in("a.bin"), "video");
    const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify, 0);
    const int registerWatch = ::inotify_add_watch(
        inotify, encodeLocal(ParentFolder(data.My.CopyListFile)).constData(), IN_MODIFY);
    ::inotify_add_watch(inotify, encodeLocal(source).constData(), IN_DELETE);

    tick();

    // Events come in the order they happened, over both folders.
    QStringList order;
    alignas(inotify_event) char buffer[8192];
    const ssize_t n = ::read(inotify, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const QString name = decodeLocal(QByteArray(event->name));
        if (event->wd != registerWatch)
            order.append("deleted " + name);
        else if (name == FileNameOf(data.My.CopyListFile) && !order.contains("register"))
            order.append("register");
        at += ssize_t(sizeof(inotify_event) + event->len);
    }
    ::close(inotify);
    EXPECT_EQ(order, (QStringList{"register", "deleted a.bin"}));
}

// The copy is proven in the destination and a register line alone deletes nothing, so a
// register that cannot be written costs its line only: the move completes, and says so.
TEST_F(Moves, ARegisterThatCannotBeWrittenIsReportedAndTheMoveCompletes) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    fs::makePath(data.My.CopyListFile);  // a folder where the register file belongs
    writeBytes(in("a.bin"), "video");

    EXPECT_EQ(tick(), (QStringList{copyLine("a.bin"),
                                   "Can't write '" + in("a.bin") + "' into the register '" +
                                       data.My.CopyListFile + "'",
                                   deletedLine("a.bin")}));
    EXPECT_EQ(readBytes(out("a.bin")), "video");
    EXPECT_TRUE(entriesOf(source).isEmpty());
    EXPECT_EQ(data.CopiedFiles.keys()->size(), 1) << "this run still knows it";
}

// ---- Copies across file systems -------------------------------------------------------------

TEST_F(Moves, ACopyKeepsModeAndTimesAndIsPrivateWhileItFills) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    writeBytes(in("public.bin"), patternBytes(3'000'000));
    ::chmod(encodeLocal(in("public.bin")).constData(), 0644);
    writeBytes(in("private.bin"), "diary");
    ::chmod(encodeLocal(in("private.bin")).constData(), 0600);
    const struct timespec times[2] = {{1'000'000'000, 123'456'789}, {1'100'000'000, 987'654'321}};
    ::utimensat(AT_FDCWD, encodeLocal(in("private.bin")).constData(), times, 0);
    // The temporary copies, seen after every chunk of both copies: only their owner may read
    // one while it fills; a whole copy that waits for its name may have its source's mode.
    int partialsSeen = 0;
    std::set<mode_t> exposedModes;
    desktop.onCopyProgress = [&] {
        for (const QString& partial : entriesOf(destination).filter(".Kopierwart-")) {
            const struct stat look = statOf(out(partial));
            const mode_t mode = look.st_mode & 07777;
            ++partialsSeen;
            if (mode != 0600 && !(mode == 0644 && look.st_size == 3'000'000))
                exposedModes.insert(mode);
        }
    };

    EXPECT_EQ(tick().size(), 4);

    EXPECT_GT(partialsSeen, 0);
    EXPECT_EQ(exposedModes, std::set<mode_t>{});
    EXPECT_EQ(statOf(out("public.bin")).st_mode & 07777, 0644u);
    const struct stat moved = statOf(out("private.bin"));
    EXPECT_EQ(moved.st_mode & 07777, 0600u);
    const auto nanoseconds = [](const timespec& t) {
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    };
    EXPECT_EQ(nanoseconds(moved.st_atim), nanoseconds(times[0]));
    EXPECT_EQ(nanoseconds(moved.st_mtim), nanoseconds(times[1]));
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
    child.start("strace", {"-f", "-qq", "-e", "trace=openat,fsync,fdatasync,syncfs,renameat2", "-o",
                           trace.fileName(), QCoreApplication::applicationFilePath(),
                           QString("--gtest_filter=%1.%2").arg(test->test_suite_name(),
                                                                test->name())});
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
