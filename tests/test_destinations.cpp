#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/bincopy.h"
#include "scan/failure.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

#include <cerrno>
#include <csignal>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kw;
using namespace kw::test;

namespace {

using Type = ScratchFileSystem::Type;

bool isMountPoint(const QString& folder) {
    QString path = folder;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return fs::mountPointOf(path) == path;
}

qint64 freeBytes(const QString& folder) {
    struct statvfs st {};
    return ::statvfs(encodeLocal(folder).constData(), &st) == 0 ? qint64(st.f_bavail) * st.f_frsize
                                                                : -1;
}

// Destinations on file systems this test makes: a stick that is pulled and plugged in again.
class Destinations : public ::testing::Test, public ScanRig {
protected:
    // Mounts a file system at out/<name> and points the destination at a folder on it.
    std::unique_ptr<ScratchFileSystem> stick(Type type, const QString& name, qint64 bytes) {
        auto made = ScratchFileSystem::make(type, out(name), bytes, &m_why);
        if (made) {
            data.My.Destination = out(name) + "/Backup/";
            fs::makePath(data.My.Destination);
        }
        return made;
    }
    QString m_why;

    QString goneLine(const ScratchFileSystem& stick) const {
        return "Destination gone: waiting for '" + data.My.Destination +
               "', nothing is mounted at '" + stick.mountPoint() + "'";
    }
    // Every entry of the destination, without the ones a file system makes itself.
    QStringList destinationEntries() const {
        QStringList names = entriesOf(data.My.Destination);
        names.removeIf([](const QString& name) { return name.startsWith('$'); });
        return names;
    }
};

TEST_F(Destinations, APulledStickIsWaitedForAndNeverMadeOnTheDiskBeneath) {
    // A blank, which the mount table writes as an octal escape.
    auto usb = stick(Type::Tmpfs, "my stick", 4 << 20);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString backup = data.My.Destination;
    QSignalSpy waiting(&engine, &ScanEngine::destinationWaiting);
    writeBytes(in("first.bin"), "first");
    const QStringList first = tick();
    ASSERT_EQ(readBytes(backup + "first.bin"), "first") << first.join('\n').toStdString();

    usb->unmount();
    writeBytes(in("second.bin"), "second");
    EXPECT_EQ(tick(), QStringList{goneLine(*usb)});
    EXPECT_TRUE(tick().isEmpty()) << "said once, not every tick";
    EXPECT_FALSE(fs::isDirectory(backup)) << "made again on the disk beneath the mount point";
    EXPECT_EQ(readBytes(in("second.bin")), "second");
    EXPECT_TRUE(engine.DestinationAway());
    EXPECT_TRUE(desktop.messages.empty()) << "a pulled stick is no wrong setting";
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_EQ(waiting[0], (QVariantList{true, usb->mountPoint()}));

    // A program started while the stick is out waits as well.
    {
        ScanEngine restarted(data, log, desktop);
        EXPECT_FALSE(restarted.ValidateDirectories());
        EXPECT_TRUE(restarted.DestinationAway());
        EXPECT_FALSE(fs::isDirectory(backup));
        takeLog();
    }

    // Back under another device number, without its folder: the folder is made on the stick.
    const quint64 before = fs::deviceOf(dir.path());
    ASSERT_TRUE(usb->mountAgain());
    EXPECT_NE(fs::deviceOf(usb->mountPoint()), before);
    const QStringList lines = tick();
    ASSERT_GE(lines.size(), 1);
    EXPECT_EQ(lines[0], "Destination back: '" + backup + "'");
    EXPECT_EQ(readBytes(backup + "second.bin"), "second");
    EXPECT_EQ(fs::mountPointOf(backup), usb->mountPoint());
    EXPECT_FALSE(engine.DestinationAway());
    EXPECT_EQ(waiting.size(), 2);
}

TEST_F(Destinations, AStickPulledDuringACopyKeepsTheSource) {
    auto usb = stick(Type::Tmpfs, "stick", 8 << 20);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    engine.ValidateDirectories();  // the stick is seen once while it is there
    const QByteArray bytes = patternBytes(3'000'000);
    writeBytes(in("a.bin"), bytes);
    writeBytes(in("b.bin"), "b");
    // The copy holds the folder open, so the unmount is a lazy one, as a desktop's would be.
    duringNextCopy([&] { usb->unmount(); });

    const QStringList lines = tick();

    EXPECT_EQ(readBytes(in("a.bin")), bytes);
    EXPECT_EQ(readBytes(in("b.bin")), "b");
    EXPECT_FALSE(fs::isDirectory(data.My.Destination));
    EXPECT_TRUE(lines.contains(goneLine(*usb))) << lines.join('\n').toStdString();
    // The copy that was whole when the stick went is discarded with one line, not named.
    EXPECT_TRUE(lines.contains("Copies discarded (1), the destination is gone; their files "
                               "stay in '" + source + "'"));
    EXPECT_TRUE(lines.filter("CopyError").isEmpty()) << lines.join('\n').toStdString();
}

TEST_F(Destinations, LeftoversAreRemovedFromEveryUsedDestinationAndOnlyOurOwn) {
    const QString second = dir.path() + "/second/";
    fs::makePath(second);
    ASSERT_TRUE(engine.ValidateDirectories());
    data.My.Destination = second;
    ASSERT_TRUE(engine.ValidateDirectories());
    const QString ours = QString::fromLatin1(fs::partialPrefix());
    ASSERT_GT(ours.size(), QString(fs::kPartialPrefix).size()) << "the mark is in every name";

    writeBytes(out(ours + "1f2e.part"), "half a file");
    writeBytes(second + ours + "77.part", "half a file");
    const QStringList kept = {".Kopierwart-0123456789abcdef-1f.part",  // another installation
                              ".Kopierwart-1f2e3d.part",               // a user's own name
                              "movie.part"};
    for (const QString& name : kept)
        writeBytes(out(name), "keep");
    fs::makePath(out(ours + "folder.part"));

    // A restart: the mark and the folders come back from the file.
    fs::setPartialMark({});
    ScanEngine restarted(data, log, desktop);
    restarted.RemoveAbandonedCopies();

    EXPECT_EQ(QString::fromLatin1(fs::partialPrefix()), ours);
    QStringList expected = kept;
    expected.append(ours + "folder.part");
    expected.sort();  // as entriesOf lists them; where the random mark falls varies
    EXPECT_EQ(entriesOf(destination), expected);
    EXPECT_TRUE(entriesOf(second).isEmpty());
    EXPECT_EQ(takeLog(), (QStringList{"Removed abandoned copy '" + out(ours + "1f2e.part") + "'",
                                      "Removed abandoned copy '" + second + ours + "77.part'"}));
    ::rmdir(encodeLocal(out(ours + "folder.part")).constData());
    for (const QString& name : entriesOf(second))
        fs::removeFile(second + name);
}

TEST_F(Destinations, AnExfatStickTakesCopiesWithoutReplacingAndRefusedNamesAreTriedOnce) {
    auto usb = stick(Type::Exfat, "exfat", 16 << 20);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString backup = data.My.Destination;
    writeBytes(in("a.bin"), patternBytes(1'500'000));
    writeBytes(in("q?.bin"), "refused");
    writeBytes(in("taken.bin"), "mine");
    writeBytes(backup + "taken.bin", "theirs, longer");

    QStringList lines = tick();

    EXPECT_EQ(readBytes(backup + "a.bin"), patternBytes(1'500'000));
    EXPECT_EQ(readBytes(backup + "001 taken.bin"), "mine");
    EXPECT_EQ(readBytes(backup + "taken.bin"), "theirs, longer");
    EXPECT_EQ(lines.count(copyLine("q?.bin")), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(
        lines.contains(notMovedLine("q?.bin", "the destination does not accept this file name")))
        << lines.join('\n').toStdString();
    EXPECT_EQ(entriesOf(source), QStringList{"q?.bin"});
    EXPECT_EQ(destinationEntries(), (QStringList{"001 taken.bin", "a.bin", "taken.bin"}));

    EXPECT_TRUE(tick().isEmpty()) << "a refused name is not copied again every tick";
    // A changed file is tried again.
    fs::append(in("q?.bin"), " again");
    lines = tick();
    EXPECT_EQ(lines.count(copyLine("q?.bin")), 1);
    EXPECT_EQ(lines.count(notMovedLine("q?.bin", "the destination does not accept this file name")),
              1);

    // A file put under the name while the copy runs stays, on a file system that cannot refuse
    // a taken name itself.
    writeBytes(in("race.bin"), patternBytes(3'000'000));
    duringNextCopy([&] { writeBytes(backup + "race.bin", "came first"); });
    lines = tick();
    EXPECT_TRUE(lines.contains(copyErrorLine(kDestinationExists)))
        << lines.join('\n').toStdString();
    EXPECT_EQ(readBytes(backup + "race.bin"), "came first");
    EXPECT_EQ(fs::facts(in("race.bin"))->size, 3'000'000);
    EXPECT_EQ(destinationEntries().filter(".part").size(), 0) << "no temporary file is left";
}

TEST_F(Destinations, AnNtfsStickRefusesBytesThatAreNotUtf8OnceAndTakesTheOtherFiles) {
    auto usb = stick(Type::Ntfs, "ntfs", 16 << 20);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString latin1 = decodeLocal("caf\xe9.bin");
    const QString bom = decodeLocal("\xEF\xBB\xBFnotes.txt");
    writeBytes(in(latin1), "latin-1 name");
    writeBytes(in(bom), "bom name");

    const QStringList lines = tick();

    EXPECT_EQ(lines.count(notMovedLine(latin1, "the destination does not accept this file name")),
              1)
        << lines.join('\n').toStdString();
    EXPECT_EQ(readBytes(data.My.Destination + bom), "bom name");
    EXPECT_EQ(encodeLocal(destinationEntries().join('|')), QByteArray("\xEF\xBB\xBFnotes.txt"));
    EXPECT_EQ(entriesOf(source), QStringList{latin1});
    EXPECT_TRUE(tick().isEmpty());
}

TEST_F(Destinations, AFullDiskIsCheckedBeforeCopyingAndTriedAgainWhenSpaceIsFreed) {
    auto disk = stick(Type::Tmpfs, "small", 20 << 20);
    if (!disk)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString backup = data.My.Destination;
    writeBytes(backup + "other program's.bin", QByteArray(10 << 20, 'o'));
    const QByteArray big = patternBytes(12 << 20);
    writeBytes(in("big.bin"), big);
    writeBytes(in("small.bin"), "small");
    const qint64 freeBefore = freeBytes(backup);
    // Looks at the free space whenever the tick lets events run, during a copy after each chunk.
    qint64 leastFree = freeBefore;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { leastFree = std::min(leastFree, freeBytes(backup)); });
    sampler.start(0);

    const QStringList lines = tick();
    sampler.stop();

    EXPECT_TRUE(lines.contains(copyErrorLine(kSystemFailure + ENOSPC)))
        << lines.join('\n').toStdString();
    EXPECT_EQ(
        lines.count(notMovedLine("big.bin", "there is not enough free space on the destination")),
        1);
    EXPECT_EQ(readBytes(backup + "small.bin"), "small") << "the pass goes on";
    EXPECT_GE(leastFree, freeBefore - (64 << 10)) << "the disk was never filled";
    EXPECT_EQ(destinationEntries(), (QStringList{"other program's.bin", "small.bin"}));
    EXPECT_EQ(data.CopiedFiles.keys()->size(), 1) << "only the file that moved is registered";
    EXPECT_TRUE(tick().isEmpty());

    fs::removeFile(backup + "other program's.bin");
    EXPECT_EQ(tick(), (QStringList{copyLine("big.bin"), deletedLine("big.bin")}));
    EXPECT_EQ(readBytes(backup + "big.bin"), big);
}

TEST_F(Destinations, AFileTooLargeForTheDestinationIsTriedOnce) {
    auto disk = stick(Type::Tmpfs, "disk", 8 << 20);  // another file system: a copy, not a rename
    if (!disk)
        KW_CANNOT_RUN(m_why.toStdString());
    writeBytes(in("large.bin"), patternBytes(2 << 20));
    writeBytes(in("b.txt"), "b");
    // The limit a file system's largest file sets, for this process: writes past it fail.
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const QStringList first = tick();
    const QStringList second = tick();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(first.contains(copyErrorLine(kSystemFailure + EFBIG)))
        << first.join('\n').toStdString();
    EXPECT_EQ(first.count(notMovedLine("large.bin",
                                       "the file is too large for the destination's file system")),
              1);
    EXPECT_EQ(readBytes(data.My.Destination + "b.txt"), "b");
    EXPECT_TRUE(second.isEmpty());
    EXPECT_EQ(destinationEntries(), QStringList{"b.txt"});
}

// The last free number is 999; once all are taken, and beside a name too long for its number,
// each failure is logged once and the file after them still moves.
TEST_F(Destinations, OneFileNeverStopsThePassAndEachFailureIsLoggedOnce) {
    writeBytes(in("a.avi"), "new");
    writeBytes(out("a.avi"), "old video");
    for (int k = 1; k <= 998; ++k)
        writeBytes(out(QString("%1 a.avi").arg(k, 3, 10, QChar('0'))), {});
    EXPECT_EQ(tick().value(0), "Renaming " + in("a.avi") + " -> 999 a.avi");
    EXPECT_EQ(readBytes(out("999 a.avi")), "new");

    const QString longName = QString(248, 'n') + ".bin";  // too long with "001 " in front
    writeBytes(in(longName), "mine");
    writeBytes(out(longName), "theirs, longer");
    writeBytes(in("a.avi"), "new");
    writeBytes(in("z.txt"), "z");
    const QStringList lines = tick();

    EXPECT_EQ(lines.count(notMovedLine(longName, "the file name is too long there")), 1)
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.count("TimerError (5)"), 1);
    EXPECT_EQ(lines.filter("ErrorDescription: No free number").size(), 1);
    EXPECT_TRUE(lines.filter("Renaming").isEmpty());
    EXPECT_EQ(readBytes(out("z.txt")), "z");
    EXPECT_EQ(entriesOf(source), (QStringList{"a.avi", longName}));
    EXPECT_TRUE(tick().isEmpty());
}

TEST_F(Destinations, ARenameRefusedInTheWatchedFolderEndsThatFileOnly) {
    auto watched = ScratchFileSystem::make(Type::Tmpfs, dir.path() + "/ro", 1 << 20, &m_why);
    if (!watched)
        KW_CANNOT_RUN(m_why.toStdString());
    data.My.Source = source = watched->mountPoint() + "/";
    writeBytes(in("a.bin"), "mine");
    writeBytes(out("a.bin"), "theirs, longer");
    const QByteArray folder = encodeLocal(watched->mountPoint());
    ASSERT_EQ(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);

    const QStringList lines = tick();

    EXPECT_EQ(lines, (QStringList{"Renaming " + in("a.bin") + " -> 001 a.bin",
                                  notMovedLine("a.bin", "there is no permission to write there")}));
    EXPECT_TRUE(tick().isEmpty());
}

TEST(ScratchFileSystemTest, IsUnmountedWhenTheTestProcessIsKilled) {
    QTemporaryDir dir;
    const QString mountPoint = dir.path() + "/mnt";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        QString why;
        auto made = ScratchFileSystem::make(Type::Tmpfs, mountPoint, 1 << 20, &why);
        const char answer = made ? 'y' : 'n';
        ::write(ready[1], &answer, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char answer = 'n';
    ::read(ready[0], &answer, 1);
    ::close(ready[0]);
    const bool mounted = answer == 'y' && isMountPoint(mountPoint);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    if (answer != 'y')
        KW_CANNOT_RUN("cannot mount a tmpfs here");
    EXPECT_TRUE(mounted);
    EXPECT_TRUE(waitUntil([&] { return !isMountPoint(mountPoint); }, 10'000));
}

}  // namespace
