// Limits of the system under a running program: a folder flush that fails after a copy got its
// name, a process out of file descriptors, a source that cannot be deleted and a destination
// that was read-only for a while. A source goes only once its copy's name is known to be on
// disk, and then with its register line and its count; a comparison that cannot be made is no
// difference, so no "001 ..." copy of a twin is made; a program short of descriptors still
// ends when asked; a failure that repeats is said once; a destination that becomes writable is
// used on the next tick.
#include "core/files.h"
#include "platform/fs.h"
#include "tests/running_program.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/teardown.h"

#include <gtest/gtest.h>

#include <QDir>

#include <set>

using namespace kw;
using namespace kw::test;
using kw::apptest::RunningProgram;

namespace {

// Puts a whole file into folder under name at once, as a finished download arrives: written
// beside it first, so the running program never meets it half written.
void arrive(const QString& folder, const QString& name, const QByteArray& bytes) {
    const QString staged = folder + "../" + name + ".staged";
    ASSERT_EQ(fs::replaceAtomically(staged, bytes), 0);
    ASSERT_EQ(::rename(encodeLocal(staged).constData(), encodeLocal(folder + name).constData()), 0);
}

// The folder flush after a copy got its name fails once (EIO injected by strace into the first
// fsync of the destination folder). The copy stands under its name; its source must stay until
// a later flush has put that name on disk, and then go with its register line and its count.
TEST(FailedFolderFlush, TheSourceStaysUntilItsCopysNameIsOnDiskAndThenGoesWithItsRecord) {
    RunningProgram rig;
    QString why;
    if (!rig.destinationOnTmpfsTraced(16 << 20, &why))
        KW_CANNOT_RUN(why.toStdString());
    rig.start({"strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync,fdatasync", "-P",
               withoutTrailingSlash(rig.destination), "-e", "inject=fsync:error=EIO:when=1"});
    ASSERT_TRUE(rig.waitStarted());
    const QByteArray bytes = ownBytes(1, 200'000);
    arrive(rig.source, "a.bin", bytes);

    const QString kept = "Source kept: '" + rig.source + "a.bin'";
    ASSERT_TRUE(waitUntil([&] { return !rig.lines().filter(kept).isEmpty(); }, 15'000))
        << "the flush did not fail: " << rig.lines().join('\n').toStdString();
    EXPECT_TRUE(waitUntil([&] { return !fs::facts(rig.source + "a.bin"); }, 15'000));
    waitUntil([&] { return ReadIniValue(rig.ini(), "Fl", "Fl") == "1"; }, 5000);
    rig.stop();

    const QStringList lines = rig.lines();
    EXPECT_TRUE(lines.filter("Source allready exist - Trying to Delete '" + rig.source).isEmpty())
        << lines.filter(rig.source).join('\n').toStdString();
    EXPECT_EQ(apptest::bytesOf(rig.destination + "a.bin"), bytes);
    EXPECT_TRUE(
        apptest::bytesOf(rig.copyList()).startsWith(encodeLocal(rig.source + "a.bin") + '\0'))
        << "not in the register";
    EXPECT_EQ(ReadIniValue(rig.ini(), "Fl", "Fl"), "1");
}

// The descriptor numbers the process has open.
std::set<int> openDescriptors(pid_t pid) {
    std::set<int> fds;
    for (const QString& name :
         QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::Files | QDir::System))
        fds.insert(name.toInt());
    return fds;
}

// A soft limit under which exactly free descriptor numbers are left to the process.
int limitLeaving(pid_t pid, int free) {
    const std::set<int> open = openDescriptors(pid);
    int fd = 0;
    for (int left = free; left > 0 || open.count(fd); ++fd) {
        if (!open.count(fd))
            --left;
    }
    return fd;
}

QString setDescriptorLimit(pid_t pid, int soft, int hard) {
    return runProgram("prlimit", {"--pid", QString::number(pid),
                                  QStringLiteral("--nofile=%1:%2").arg(soft).arg(hard)});
}

// 100 sources whose twins lie in the destination, met by a program that can open only one, two,
// then three more files: a comparison that cannot open the destination's file knows nothing,
// and the source waits; it is no different file that would be copied as "001 ...".
TEST(OutOfDescriptors, ATwinThatCannotBeComparedWaitsAndIsNeverCopiedAsANumberedFile) {
    constexpr int kFiles = 100;
    RunningProgram rig;
    const auto name = [](int i) { return QString("Zwilling %1.bin").arg(i); };
    for (int i = 0; i < kFiles; ++i)
        ASSERT_EQ(fs::replaceAtomically(rig.destination + name(i), ownBytes(i, 4000)), 0);
    rig.start();
    ASSERT_TRUE(rig.waitStarted());
    waitUntil([] { return false; }, 1500);  // the start-up's own files are closed again
    const pid_t pid = rig.pid();
    const auto numbered = [&] {
        return !fs::namesStartingWith(rig.destination, "0").isEmpty() ||
               !fs::namesStartingWith(rig.source, "0").isEmpty();
    };
    // One free descriptor, then two and three: whichever step of the pass runs short, the
    // comparison or what comes before it, a twin is never taken for a different file.
    for (const int free : {1, 2, 3}) {
        ASSERT_EQ(setDescriptorLimit(pid, limitLeaving(pid, free), 4096), "");
        if (free == 1) {
            for (int i = 0; i < kFiles; ++i)
                arrive(rig.source, name(i), ownBytes(i, 4000));
        }
        // A few ticks, at one a second.
        waitUntil(numbered, free == 1 ? 3000 : 2000);
        EXPECT_FALSE(numbered())
            << free << " free:\n"
            << rig.lines().filter("Renaming").mid(0, 3).join('\n').toStdString();
        // The limit bit: with room to compare, the sources would have gone as twins.
        if (free == 1) {
            EXPECT_TRUE(rig.lines().filter("Source allready exist").isEmpty())
                << "the limit did not hold";
        }
    }

    ASSERT_EQ(setDescriptorLimit(pid, 1024, 4096), "");
    EXPECT_TRUE(waitUntil([&] { return fs::regularFileNames(rig.source)->isEmpty() || numbered(); },
                          15'000));
    EXPECT_FALSE(numbered());
    EXPECT_EQ(fs::regularFileNames(rig.destination)->size(), kFiles);
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(apptest::bytesOf(rig.destination + name(i)), ownBytes(i, 4000)) << i;
}

// Copies that wait for their names hold three descriptors each; with the limit where a group of
// them would take all but one, the program names its groups early, still ends within five seconds
// of SIGTERM, and no file is lost or left half.
TEST(OutOfDescriptors, WaitingCopiesTakingAllButOneDescriptorStillLetTheProgramEndWhenAsked) {
    constexpr int kFiles = 300;
    constexpr int kWaitingCopies = 20;
    RunningProgram rig;
    QString why;
    if (!rig.destinationOnTmpfs(32 << 20, &why))
        KW_CANNOT_RUN(why.toStdString());
    rig.start();
    ASSERT_TRUE(rig.waitStarted());
    waitUntil([] { return false; }, 1500);
    const pid_t pid = rig.pid();
    ASSERT_EQ(setDescriptorLimit(pid, limitLeaving(pid, 3 * kWaitingCopies + 1), 4096), "");

    const auto name = [](int i) { return QString("Stück %1.bin").arg(i); };
    for (int i = 0; i < kFiles; ++i)
        arrive(rig.source, name(i), ownBytes(i, 3000));
    ASSERT_TRUE(
        waitUntil([&] { return fs::regularFileNames(rig.destination)->size() >= 10; }, 15'000))
        << "nothing was copied";
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(rig.terminate(5000)) << "still running 5 s after SIGTERM";
    EXPECT_LE(clock.elapsed(), 5000);
    rig.stop();

    for (int i = 0; i < kFiles; ++i) {
        const QByteArray bytes = ownBytes(i, 3000);
        const bool inSource = apptest::bytesOf(rig.source + name(i)) == bytes;
        const auto moved = fs::facts(rig.destination + name(i));
        EXPECT_TRUE(inSource || moved) << i << " lost";
        if (moved) {
            EXPECT_EQ(apptest::bytesOf(rig.destination + name(i)), bytes) << i;
        }
    }
}

// A source that cannot be deleted (a file mounted over its name) is said once, however many
// ticks meet it, and goes once it can.
class Undeletable : public ::testing::Test, public ScanRig {};

TEST_F(Undeletable, ASourceThatCannotBeDeletedIsLoggedOnceOverManyTicks) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    const QByteArray bytes = ownBytes(7, 50'000);
    writeBytes(in("fest.bin"), bytes);
    const QString over = dir.path() + "/over.bin";
    writeBytes(over, bytes);
    const QString mounted = runProgram("mount", {"--bind", over, in("fest.bin")});
    if (!mounted.isEmpty())
        KW_CANNOT_RUN(mounted.toStdString());
    AtTestEnd unbind("umount -l " + shellQuoted(in("fest.bin")));

    QStringList lines;
    for (int i = 0; i < 6; ++i)
        lines += tick();

    EXPECT_EQ(bytesOf(out("fest.bin")), bytes);
    EXPECT_EQ(bytesOf(in("fest.bin")), bytes);
    EXPECT_EQ(lines.filter("Delete '" + in("fest.bin") + "'").size(), 1)
        << lines.join('\n').toStdString();

    unbind.runNow();
    tick();
    EXPECT_FALSE(fs::facts(in("fest.bin")));
    EXPECT_EQ(bytesOf(out("fest.bin")), bytes);
}

// A destination that was read-only is tried again on the first tick after it became writable.
class ReadOnlyForAWhile : public ::testing::Test, public ScanRig {};

TEST_F(ReadOnlyForAWhile, ADestinationWritableAgainIsUsedOnTheNextTick) {
    QString why;
    const auto usb = stick(ScratchFileSystem::Type::Tmpfs, "stick", 8 << 20, &why);
    if (!usb)
        KW_CANNOT_RUN(why.toStdString());
    ASSERT_TRUE(validateFolders(engine));
    ASSERT_EQ(runProgram("mount", {"-o", "remount,ro", usb->mountPoint()}), "");
    writeBytes(in("a.bin"), "for later");

    tick();
    tick();
    EXPECT_EQ(bytesOf(in("a.bin")), "for later");

    ASSERT_EQ(runProgram("mount", {"-o", "remount,rw", usb->mountPoint()}), "");
    const QStringList lines = tick();
    EXPECT_EQ(bytesOf(data.My.Destination + "a.bin"), "for later")
        << lines.join('\n').toStdString();
    EXPECT_FALSE(fs::facts(in("a.bin")));
}

}  // namespace
