// Destinations that fail or differ: a source goes only once its copy stands whole and flushed.
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "tests/running_program.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <set>

using namespace kw;
using namespace kw::test;
using kw::apptest::RunningProgram;

namespace {

using Type = ScratchFileSystem::Type;
const QString refused = "the destination does not accept this file name";

class Destinations : public ::testing::Test, public ScanRig {
protected:
    QString why;
};

TEST_F(Destinations, APulledStickIsWaitedForAndNeverMadeOnTheDiskBeneath) {
    auto usb = stick(Type::Tmpfs, "my stick", 4 << 20, &why);  // a blank: octal in the mount table
    if (!usb)
        KW_CANNOT_RUN(why.toStdString());
    const QString backup = data.My.Destination;
    QSignalSpy waiting(&engine, &ScanEngine::destinationWaiting);
    writeBytes(in("first.bin"), "first");
    tick();
    ASSERT_EQ(bytesOf(backup + "first.bin"), "first");

    usb->unmount();
    writeBytes(in("second.bin"), "second");
    EXPECT_EQ(tick(), QStringList{"Destination gone: waiting for '" + backup +
                                  "', nothing is mounted at '" + usb->mountPoint() + "'"});
    EXPECT_TRUE(tick().isEmpty()) << "said once, not every tick";
    EXPECT_FALSE(fs::isDirectory(backup)) << "made again on the disk beneath the mount point";
    EXPECT_EQ(bytesOf(in("second.bin")), "second");
    EXPECT_TRUE(desktop.messages.empty()) << "a pulled stick is no wrong setting";
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_EQ(waiting[0], (QVariantList{true, usb->mountPoint()}));

    // Back under another device number, without its folder: the folder is made on the stick.
    ASSERT_TRUE(usb->mountAgain());
    EXPECT_EQ(tick().value(0), "Destination back: '" + backup + "'");
    EXPECT_EQ(bytesOf(backup + "second.bin"), "second");
    EXPECT_EQ(fs::mountPointOf(backup), usb->mountPoint());
    EXPECT_EQ(waiting.size(), 2);
}

TEST_F(Destinations, LeftoversAreRemovedFromEveryUsedDestinationAndOnlyOurOwn) {
    const QString second = dir.path() + "/second/";
    fs::makePath(second);
    ASSERT_TRUE(validateFolders(engine));
    data.My.Destination = second;
    ASSERT_TRUE(validateFolders(engine));
    const QString ours = QString::fromLatin1(fs::partialPrefix());
    writeBytes(out(ours + "1f2e.part"), "half a file");
    writeBytes(second + ours + "77.part", "half a file");
    const QStringList kept = {".Kopierwart-0123456789abcdef-1f.part",  // another installation
                              ".Kopierwart-1f2e3d.part",               // a user's own name
                              "movie.part"};
    for (const QString& name : kept)
        writeBytes(out(name), "keep");
    fs::setPartialMark({});  // a restart: the mark and the folders come back from the file
    ScanEngine restarted(data, log, desktop);
    removeAbandonedCopies(restarted);
    EXPECT_EQ(entriesOf(destination), kept);
    EXPECT_TRUE(entriesOf(second).isEmpty());
    EXPECT_EQ(takeLog().size(), 2);
}

// exFAT refuses a "?", NTFS bytes that are not UTF-8; a name taken during the copy stays theirs.
TEST(Sticks, RefuseANameOnceTakeTheOtherFilesAndNeverReplaceOne) {
    for (const auto& [type, raw] : {std::pair{Type::Exfat, QByteArray("q?.bin")},
                                    std::pair{Type::Ntfs, QByteArray("caf\xe9.bin")}}) {
        SCOPED_TRACE(raw.constData());
        ScanRig r;
        QString why;
        const auto usb = r.stick(type, "stick", 16 << 20, &why);
        if (!usb)
            KW_CANNOT_RUN(why.toStdString());
        const QString name = decodeLocal(raw), bom = decodeLocal("\xEF\xBB\xBFnotes.txt");
        const QString backup = r.data.My.Destination;
        writeBytes(r.in(name), "refused");
        writeBytes(r.in(bom), "bom name");
        writeBytes(r.in("taken.bin"), "mine");
        writeBytes(backup + "taken.bin", "theirs, longer");
        EXPECT_EQ(r.tick().count(r.notMovedLine(name, refused)), 1);
        EXPECT_EQ(bytesOf(backup + bom), "bom name");
        EXPECT_EQ(bytesOf(backup + "001 taken.bin"), "mine");
        EXPECT_EQ(bytesOf(backup + "taken.bin"), "theirs, longer");
        EXPECT_EQ(entriesOf(r.source), QStringList{name});
        EXPECT_TRUE(r.tick().isEmpty()) << "a refused name is not copied again every tick";
        writeBytes(r.in(name), "refused again");
        EXPECT_EQ(r.tick().count(r.notMovedLine(name, refused)), 1);

        writeBytes(r.in("race.bin"), patternBytes(3'000'000));
        r.duringNextCopy([&] { writeBytes(backup + "race.bin", "came first"); });
        EXPECT_TRUE(r.tick().contains(ScanRig::copyErrorLine(kDestinationExists)));
        EXPECT_EQ(bytesOf(backup + "race.bin"), "came first");
        EXPECT_EQ(fs::facts(r.in("race.bin"))->size, 3'000'000);
        EXPECT_TRUE(entriesOf(backup).filter(".Kopierwart-").isEmpty()) << "a temporary file left";
    }
}

TEST_F(Destinations, AFullDiskIsCheckedBeforeCopyingAndTriedAgainWhenSpaceIsFreed) {
    auto disk = stick(Type::Tmpfs, "small", 20 << 20, &why);
    if (!disk)
        KW_CANNOT_RUN(why.toStdString());
    const QString backup = data.My.Destination;
    writeBytes(backup + "other program's.bin", QByteArray(10 << 20, 'o'));
    const QByteArray big = patternBytes(12 << 20);
    writeBytes(in("big.bin"), big);
    writeBytes(in("small.bin"), "small");
    // What the file work writes, traced: refused before a byte is written, not after filling it.
    TracedCalls trace("copy_file_range,write,pwrite64", {});
    ASSERT_EQ(trace.why(), "");
    const QStringList lines = tick();
    qint64 written = 0;
    for (const QString& call : trace.calls())
        written += std::max(0LL, call.section('=', -1).trimmed().section(' ', 0, 0).toLongLong());
    EXPECT_LT(written, 1 << 20) << "the disk was filled before the copy was refused";
    EXPECT_TRUE(lines.contains(copyErrorLine(kSystemFailure + ENOSPC)));
    EXPECT_EQ(
        lines.count(notMovedLine("big.bin", "there is not enough free space on the destination")),
        1);
    EXPECT_EQ(bytesOf(backup + "small.bin"), "small") << "the pass goes on";
    EXPECT_TRUE(tick().isEmpty());
    fs::removeFile(backup + "other program's.bin");
    EXPECT_EQ(tick(), (QStringList{copyLine("big.bin"), deletedLine("big.bin")}));
    EXPECT_EQ(bytesOf(backup + "big.bin"), big);
}

// Flushed before its name: on tmpfs by syncfs or its own flush, on exFAT (FUSE) by its own only.
TEST(CopyAcrossFileSystems, IsPrivateWhileItFillsKeepsModeAndTimesAndIsFlushedBeforeItsName) {
    for (const Type type : {Type::Tmpfs, Type::Exfat}) {
        SCOPED_TRACE(type == Type::Tmpfs ? "tmpfs" : "exFAT");
        ScanRig r;
        QString why;
        const auto disk = r.stick(type, "disk", 16 << 20, &why);
        if (!disk)
            KW_CANNOT_RUN(why.toStdString());
        const QString backup = r.data.My.Destination;
        writeBytes(r.in("a.bin"), patternBytes(3'000'000));
        ::chmod(encodeLocal(r.in("a.bin")).constData(), 0644);
        const struct timespec times[2] = {{1'000'000'000, 123'456'789},
                                          {1'100'000'000, 987'654'321}};
        ::utimensat(AT_FDCWD, encodeLocal(r.in("a.bin")).constData(), times, 0);
        std::set<mode_t> modesWhileFilling;
        r.desktop.onCopyProgress = [&] {
            for (const QString& partial : entriesOf(backup).filter(".Kopierwart-"))
                if (statOf(backup + partial).st_size < 3'000'000)
                    modesWhileFilling.insert(statOf(backup + partial).st_mode & 07777);
        };
        TracedCalls trace("openat,fsync,fdatasync,syncfs,renameat2", {});
        ASSERT_EQ(trace.why(), "");
        EXPECT_EQ(r.tick(), (QStringList{r.copyLine("a.bin"), r.deletedLine("a.bin")}));
        if (type == Type::Tmpfs) {  // exFAT keeps no Unix modes
            EXPECT_EQ(modesWhileFilling, std::set<mode_t>{0600});
            const struct stat moved = statOf(backup + "a.bin");
            EXPECT_EQ(moved.st_mode & 07777, 0644u);
            EXPECT_EQ(moved.st_atim.tv_nsec, times[0].tv_nsec);
            EXPECT_EQ(moved.st_mtim.tv_sec, times[1].tv_sec);
            EXPECT_EQ(moved.st_mtim.tv_nsec, times[1].tv_nsec);
        }
        QString partial;  // the partial file's descriptor
        bool flushed = false, named = false;
        for (const QString& call : trace.calls()) {
            const QString fd = call.section('(', 1).section(QRegularExpression("[,)]"), 0, 0);
            if (call.startsWith("openat(") && call.contains(".Kopierwart-") &&
                call.contains("O_CREAT"))
                partial = call.section('=', -1).trimmed().section(' ', 0, 0);
            else if ((call.startsWith("fsync(") || call.startsWith("fdatasync(")) && fd == partial)
                flushed = true;
            else if (call.startsWith("syncfs(") && type == Type::Tmpfs && !partial.isEmpty())
                flushed = true;
            else if (call.startsWith("renameat2(") && call.contains(".Kopierwart-")) {
                named = true;
                EXPECT_TRUE(flushed) << "named before it was flushed\n" << text(trace.calls());
                break;
            }
        }
        EXPECT_TRUE(named) << text(trace.calls());
    }
}

// Every fsync fails (EIO) for two ticks.
TEST_F(Destinations, ASourceStaysUntilAFlushPutItsCopysNameOnDisk) {
    auto disk = stick(Type::Tmpfs, "tmpfs", 16 << 20, &why);
    if (!disk)
        KW_CANNOT_RUN(why.toStdString());
    const QByteArray bytes = ownBytes(1, 200'000);
    writeBytes(in("a.bin"), bytes);
    auto failing = std::make_unique<TracedCalls>("fsync", QStringList{"fsync:error=EIO"});
    ASSERT_EQ(failing->why(), "");
    QStringList lines = tick();
    EXPECT_EQ(lines.filter("Source kept: '" + in("a.bin") + "'").size(), 1) << text(lines);
    EXPECT_TRUE(bytesOf(in("a.bin")) == bytes) << "deleted although the flush failed";
    lines += tick();
    EXPECT_TRUE(bytesOf(in("a.bin")) == bytes) << "deleted without a flush that succeeded\n"
                                               << text(lines);
    failing.reset();
    lines += tick();
    EXPECT_FALSE(fs::facts(in("a.bin"))) << text(lines);
    EXPECT_EQ(bytesOf(data.My.Destination + "a.bin"), bytes);
    EXPECT_TRUE(bytesOf(data.My.CopyListFile).startsWith(encodeLocal(in("a.bin")) + '\0'));
    EXPECT_EQ(data.My.SavedFileCount, 1);
    EXPECT_TRUE(lines.filter("Source allready exist").isEmpty()) << text(lines);
}

TEST(Unwritable, NothingUnwritableLosesAFileOrRepeatsItsWork) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("mounts need root");
    const std::map<QString, QByteArray> files = {{"a.bin", patternBytes(1'500'000)},
                                                 {"b.bin", patternBytes(300'000)}};
    struct Row {
        const char* what;
        bool registerWritable, watchedFolderWritable;
    };
    const Row rows[] = {
        {"a folder stands under the register's name", false, true},
        {"the data folder is a full tmpfs", false, true},
        {"the watched folder is mounted read-only", true, false},
        {"the watched folder is read-only and the register a folder", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScanRig rig;
        ASSERT_TRUE(rig.destinationOnOtherFileSystem());
        for (const auto& [name, bytes] : files)
            writeBytes(rig.in(name), bytes);
        std::unique_ptr<ScratchFileSystem> dataFs;
        const QString registerFile = rig.data.My.CopyListFile;
        if (QString(row.what).contains("tmpfs")) {
            const QString dataFolder = rig.dir.path() + "/data/";
            ASSERT_TRUE(dataFs = ScratchFileSystem::make(Type::Tmpfs, dataFolder, 256 << 10));
            runToEnd({"sh", "-c", "cat /dev/zero >\"$0filler\"", dataFolder});
            ASSERT_NE(fs::append(registerFile, "x"), 0) << "the tmpfs is not full";
        } else if (!row.registerWritable) {
            ASSERT_EQ(fs::makePath(registerFile), 0);
        }
        std::unique_ptr<AtTestEnd> readOnly;
        if (!row.watchedFolderWritable) {
            const QString folder = withoutTrailingSlash(rig.source);
            readOnly = std::make_unique<AtTestEnd>("umount -l " + shellQuoted(folder));
            ASSERT_EQ(runProgram("mount", {"--bind", "-o", "ro", folder, folder}), "");
        }
        const QStringList first = rig.tick();
        const QStringList later = rig.tick() + rig.tick();
        const std::string log = text(first + later);
        EXPECT_EQ(entriesOf(rig.destination), (QStringList{"a.bin", "b.bin"})) << log;
        for (const auto& [name, bytes] : files) {
            EXPECT_EQ(bytesOf(rig.out(name)), bytes) << log;
            EXPECT_EQ(first.count(rig.copyLine(name)), 1) << log;
            const QString unregistered =
                "Can't write '" + rig.in(name) + "' into the register '" + registerFile + "'";
            EXPECT_EQ(first.filter(unregistered).size(), row.registerWritable ? 0 : 1) << log;
            if (row.watchedFolderWritable) {
                EXPECT_FALSE(fs::facts(rig.in(name))) << "source not deleted\n" << log;
            } else {
                EXPECT_EQ(bytesOf(rig.in(name)), bytes) << log;
                EXPECT_EQ(first.filter("'" + rig.in(name) + "'").filter("Delete").size(), 1) << log;
            }
        }
        EXPECT_EQ(text(later), "") << "said or done again";
    }
}

// Sets the process's soft limit so that exactly free descriptor numbers are left to it.
QString leaveDescriptors(pid_t pid, int free) {
    const QStringList open =
        QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::Files | QDir::System);
    int fd = 0;
    for (int left = free; left > 0 || open.contains(QString::number(fd)); ++fd)
        left -= !open.contains(QString::number(fd));
    return runProgram("prlimit",
                      {"--pid", QString::number(pid), QStringLiteral("--nofile=%1:4096").arg(fd)});
}

TEST(OutOfDescriptors, ATwinThatCannotBeComparedWaitsAndIsNeverCopiedAsANumberedFile) {
    constexpr int kFiles = 100;
    RunningProgram rig;
    const auto name = [](int i) { return QString("Zwilling %1.bin").arg(i); };
    for (int i = 0; i < kFiles; ++i)
        writeBytes(rig.destination + name(i), ownBytes(i, 4000));
    rig.start();
    ASSERT_TRUE(rig.waitStarted());
    waitUntil([] { return false; }, 1500);  // the start-up's own files are closed again
    const pid_t pid = rig.pid();
    const auto numbered = [&] {
        return !fs::namesStartingWith(rig.destination, "0").isEmpty() ||
               !fs::namesStartingWith(rig.source, "0").isEmpty();
    };
    for (const int free : {1, 2, 3}) {
        ASSERT_EQ(leaveDescriptors(pid, free), "");
        if (free == 1)
            for (int i = 0; i < kFiles; ++i)
                writeBytes(rig.source + name(i), ownBytes(i, 4000));
        waitUntil(numbered, free == 1 ? 3000 : 2000);  // a few ticks
        EXPECT_FALSE(numbered()) << free << " free:\n"
                                 << text(rig.lines().filter("Renaming").mid(0, 3));
        EXPECT_TRUE(free > 1 || rig.lines().filter("Source allready exist").isEmpty())
            << "the limit did not hold";
    }
    ASSERT_EQ(leaveDescriptors(pid, 1000), "");
    EXPECT_TRUE(waitUntil([&] { return fs::regularFileNames(rig.source)->isEmpty() || numbered(); },
                          15'000));
    EXPECT_FALSE(numbered());
    EXPECT_EQ(fs::regularFileNames(rig.destination)->size(), kFiles);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(bytesOf(rig.destination + name(i)), ownBytes(i, 4000)) << i;
}

}  // namespace
