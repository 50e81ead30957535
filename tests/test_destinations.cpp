#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

#include <cerrno>

#include <sys/statvfs.h>

using namespace kw;
using namespace kw::test;

namespace {

using Type = ScratchFileSystem::Type;
const QString refused = "the destination does not accept this file name";

qint64 freeBytes(const QString& folder) {
    struct statvfs st {};
    return ::statvfs(encodeLocal(folder).constData(), &st) == 0 ? qint64(st.f_bavail) * st.f_frsize
                                                                : -1;
}

// Destinations on file systems this test makes: a stick that is pulled and plugged in again.
class Destinations : public ::testing::Test, public ScanRig {
protected:
    QString m_why;

    QString goneLine(const ScratchFileSystem& stick) const {
        return "Destination gone: waiting for '" + data.My.Destination +
               "', nothing is mounted at '" + stick.mountPoint() + "'";
    }
};

TEST_F(Destinations, APulledStickIsWaitedForAndNeverMadeOnTheDiskBeneath) {
    // A blank, which the mount table writes as an octal escape.
    auto usb = stick(Type::Tmpfs, "my stick", 4 << 20, &m_why);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString backup = data.My.Destination;
    QSignalSpy waiting(&engine, &ScanEngine::destinationWaiting);
    writeBytes(in("first.bin"), "first");
    tick();
    ASSERT_EQ(bytesOf(backup + "first.bin"), "first");

    usb->unmount();
    writeBytes(in("second.bin"), "second");
    EXPECT_EQ(tick(), QStringList{goneLine(*usb)});
    EXPECT_TRUE(tick().isEmpty()) << "said once, not every tick";
    EXPECT_FALSE(fs::isDirectory(backup)) << "made again on the disk beneath the mount point";
    EXPECT_EQ(bytesOf(in("second.bin")), "second");
    EXPECT_TRUE(desktop.messages.empty()) << "a pulled stick is no wrong setting";
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_EQ(waiting[0], (QVariantList{true, usb->mountPoint()}));

    // Back under another device number, without its folder: the folder is made on the stick.
    const quint64 before = fs::deviceOf(dir.path());
    ASSERT_TRUE(usb->mountAgain());
    EXPECT_NE(fs::deviceOf(usb->mountPoint()), before);
    EXPECT_EQ(tick().value(0), "Destination back: '" + backup + "'");
    EXPECT_EQ(bytesOf(backup + "second.bin"), "second");
    EXPECT_EQ(fs::mountPointOf(backup), usb->mountPoint());
    EXPECT_EQ(waiting.size(), 2);
}

TEST_F(Destinations, AStickPulledDuringACopyKeepsTheSource) {
    auto usb = stick(Type::Tmpfs, "stick", 8 << 20, &m_why);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    validateFolders(engine);  // the stick is seen once while it is there
    const QByteArray bytes = patternBytes(3'000'000);
    writeBytes(in("a.bin"), bytes);
    writeBytes(in("b.bin"), "b");
    // The copy holds the folder open, so the unmount is a lazy one, as a desktop's would be.
    duringNextCopy([&] { usb->unmount(); });

    const QStringList lines = tick();

    EXPECT_EQ(bytesOf(in("a.bin")), bytes);
    EXPECT_EQ(bytesOf(in("b.bin")), "b");
    EXPECT_FALSE(fs::isDirectory(data.My.Destination));
    EXPECT_TRUE(lines.contains(goneLine(*usb)));
    EXPECT_TRUE(lines.filter("CopyError").isEmpty());
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

    // A restart: the mark and the folders come back from the file.
    fs::setPartialMark({});
    ScanEngine restarted(data, log, desktop);
    removeAbandonedCopies(restarted);

    EXPECT_EQ(entriesOf(destination), kept);
    EXPECT_TRUE(entriesOf(second).isEmpty());
    EXPECT_EQ(takeLog().size(), 2);
}

TEST_F(Destinations, AnExfatStickTakesCopiesWithoutReplacingAndRefusedNamesAreTriedOnce) {
    auto usb = stick(Type::Exfat, "exfat", 16 << 20, &m_why);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString backup = data.My.Destination;
    writeBytes(in("q?.bin"), "refused");
    writeBytes(in("taken.bin"), "mine");
    writeBytes(backup + "taken.bin", "theirs, longer");

    QStringList lines = tick();

    EXPECT_EQ(bytesOf(backup + "001 taken.bin"), "mine");
    EXPECT_EQ(bytesOf(backup + "taken.bin"), "theirs, longer");
    EXPECT_EQ(lines.count(notMovedLine("q?.bin", refused)), 1);
    EXPECT_EQ(entriesOf(source), QStringList{"q?.bin"});
    EXPECT_TRUE(tick().isEmpty()) << "a refused name is not copied again every tick";
    // A changed file is tried again.
    writeBytes(in("q?.bin"), "refused again");
    EXPECT_EQ(tick().count(notMovedLine("q?.bin", refused)), 1);

    // A file put under the name while the copy runs stays, on a file system that cannot refuse
    // a taken name itself.
    writeBytes(in("race.bin"), patternBytes(3'000'000));
    duringNextCopy([&] { writeBytes(backup + "race.bin", "came first"); });
    EXPECT_TRUE(tick().contains(copyErrorLine(kDestinationExists)));
    EXPECT_EQ(bytesOf(backup + "race.bin"), "came first");
    EXPECT_EQ(fs::facts(in("race.bin"))->size, 3'000'000);
    EXPECT_TRUE(entriesOf(backup).filter(".Kopierwart-").isEmpty()) << "no temporary file left";
}

TEST_F(Destinations, AnNtfsStickRefusesBytesThatAreNotUtf8OnceAndTakesTheOtherFiles) {
    auto usb = stick(Type::Ntfs, "ntfs", 16 << 20, &m_why);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString latin1 = decodeLocal("caf\xe9.bin");
    const QString bom = decodeLocal("\xEF\xBB\xBFnotes.txt");
    writeBytes(in(latin1), "latin-1 name");
    writeBytes(in(bom), "bom name");

    EXPECT_EQ(tick().count(notMovedLine(latin1, refused)), 1);
    EXPECT_EQ(bytesOf(data.My.Destination + bom), "bom name");
    EXPECT_EQ(entriesOf(source), QStringList{latin1});
    EXPECT_TRUE(tick().isEmpty());
}

TEST_F(Destinations, AFullDiskIsCheckedBeforeCopyingAndTriedAgainWhenSpaceIsFreed) {
    auto disk = stick(Type::Tmpfs, "small", 20 << 20, &m_why);
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

    EXPECT_TRUE(lines.contains(copyErrorLine(kSystemFailure + ENOSPC)));
    EXPECT_EQ(
        lines.count(notMovedLine("big.bin", "there is not enough free space on the destination")),
        1);
    EXPECT_EQ(bytesOf(backup + "small.bin"), "small") << "the pass goes on";
    EXPECT_GE(leastFree, freeBefore - (64 << 10)) << "the disk was never filled";
    EXPECT_TRUE(tick().isEmpty());

    fs::removeFile(backup + "other program's.bin");
    EXPECT_EQ(tick(), (QStringList{copyLine("big.bin"), deletedLine("big.bin")}));
    EXPECT_EQ(bytesOf(backup + "big.bin"), big);
}

}  // namespace
