#include "core/files.h"
#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/scratchfs.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTimer>

#include <csignal>

#include <sys/stat.h>
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

quint64 deviceOf(const QString& path) {
    struct stat st {};
    return ::stat(encodeLocal(path).constData(), &st) == 0 ? st.st_dev : 0;
}

// Destinations on file systems this test makes: a stick that is pulled and plugged in again.
class Destinations : public ::testing::Test, public ScanRig {
protected:
    // Mounts a file system at out/<name> and points the destination at a folder on it.
    std::unique_ptr<ScratchFileSystem> stick(Type type, const QString& name, qint64 bytes) {
        QString why;
        auto made = ScratchFileSystem::make(type, out(name), bytes, &why);
        if (made) {
            data.My.Destination = out(name) + "/Backup/";
            fs::makePath(data.My.Destination);
        } else {
            m_why = why;
        }
        return made;
    }
    QString m_why;
};

TEST_F(Destinations, APulledStickIsWaitedForAndNeverMadeOnTheDiskBeneath) {
    auto usb = stick(Type::Tmpfs, "stick", 4 << 20);
    if (!usb)
        KW_CANNOT_RUN(m_why.toStdString());
    const QString backup = data.My.Destination;
    QSignalSpy waiting(&engine, &ScanEngine::destinationWaiting);
    writeBytes(in("first.bin"), "first");
    const QStringList first = tick();
    ASSERT_EQ(readBytes(backup + "first.bin"), "first") << first.join('\n').toStdString();

    usb->unmount();
    writeBytes(in("second.bin"), "second");
    EXPECT_EQ(tick(), QStringList{"Destination gone: waiting for '" + backup +
                                  "', nothing is mounted at '" + usb->mountPoint() + "'"});
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
    const quint64 before = deviceOf(dir.path());
    ASSERT_TRUE(usb->mountAgain());
    EXPECT_NE(deviceOf(usb->mountPoint()), before);
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
    QTimer::singleShot(0, [&] { usb->unmount(); });

    const QStringList lines = tick();

    EXPECT_EQ(readBytes(in("a.bin")), bytes);
    EXPECT_EQ(readBytes(in("b.bin")), "b");
    EXPECT_FALSE(fs::isDirectory(data.My.Destination));
    EXPECT_TRUE(lines.contains("Destination gone: waiting for '" + data.My.Destination +
                               "', nothing is mounted at '" + usb->mountPoint() + "'"))
        << lines.join('\n').toStdString();
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
    EXPECT_EQ(entriesOf(destination),
              (QStringList{kept[0], kept[1], ours + "folder.part", kept[2]}));
    EXPECT_TRUE(entriesOf(second).isEmpty());
    EXPECT_EQ(takeLog(), (QStringList{"Removed abandoned copy '" + out(ours + "1f2e.part") + "'",
                                      "Removed abandoned copy '" + second + ours + "77.part'"}));
    ::rmdir(encodeLocal(out(ours + "folder.part")).constData());
    for (const QString& name : entriesOf(second))
        fs::removeFile(second + name);
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
