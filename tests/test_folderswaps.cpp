// Folders that change under a running pass: a pass works on the folders it checked at its start,
// whatever the settings or the paths come to name while it runs. A folder chosen in the dialog
// that is the other folder is refused; a destination replaced by a link or a bind mount of the
// watched folder never makes a file its own twin; a stick pulled during a copy never lets a file
// move into the folder of the same name on the disk beneath. No file is lost, doubled or
// misplaced.
#include "core/files.h"
#include "platform/fs.h"
#include "scan/bincopy.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/teardown.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

#include <unistd.h>

using namespace kw;
using namespace kw::test;

namespace {

// The watched folder chosen as destination's twin in the real main window while a copy runs.
TEST(FolderDialog, TheDestinationChosenAsWatchedFolderDuringACopyIsRefusedAndTheCopyGoesOn) {
    apptest::FoldersRig rig;
    const QString& source = rig.source;
    const QString& destination = rig.destination;
    QString why;
    const auto stick =
        ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, destination, 64 << 20, &why);
    if (!stick)
        KW_CANNOT_RUN(why.toStdString());
    // The destination's own files: none of them may go.
    const QStringList theirs = {"alt 1.txt", "alt 2.bin", "big.bin.old"};
    for (const QString& name : theirs)
        ASSERT_EQ(fs::replaceAtomically(destination + name, "kept: " + name.toUtf8()), 0);
    const QByteArray big = ownBytes(0, 3 * kCopyChunk + 11);
    ASSERT_EQ(fs::replaceAtomically(source + "big.bin", big), 0);
    for (int i = 1; i <= 3; ++i)
        ASSERT_EQ(fs::replaceAtomically(source + QString("klein %1.bin").arg(i), ownBytes(i, 5000)),
                  0);
    rig.setting("Intervall", "1");

    // At the first chunk of the first copy the user picks the destination as watched folder.
    bool chosen = false;
    rig.desktop.onCopyProgress = [&] {
        if (std::exchange(chosen, true))
            return;
        chooseInNextFileDialog(withoutTrailingSlash(destination));
        rig.control<QPushButton>("ButBrowse(0)")->click();
    };
    // Each chunk's write-back waits, so that the copy runs long enough to show its window.
    std::unique_ptr<TracedCalls> slowed;
    rig.start(false, [&] { slowed = slowChunks(200); });
    if (!slowed->why().isEmpty())
        KW_CANNOT_RUN(("strace: " + slowed->why()).toStdString());
    ASSERT_TRUE(chosen) << "no copy ran";
    // The pass goes on, and the following ones too, with the folders it had.
    EXPECT_TRUE(waitUntil([&] { return fs::regularFileNames(source)->isEmpty(); }, 15'000));
    // Two more passes at one a second.
    waitUntil([] { return false; }, 2500);
    waitUntil([&] { return !rig.program->engine().ScanBusy(); });

    ASSERT_FALSE(rig.desktop.messages.empty()) << "the choice was not refused";
    EXPECT_EQ(rig.desktop.messages.front().caption, "Fehler");
    EXPECT_TRUE(rig.desktop.messages.front().text.contains("dasselbe"))
        << rig.desktop.messages.front().text.toStdString();
    EXPECT_EQ(rig.desktop.messages.size(), 1u);
    EXPECT_EQ(ReadIniValue(rig.ini(), "Source", "Source"), source);
    EXPECT_EQ(ReadIniValue(rig.ini(), "Destination", "Destination"), destination);
    EXPECT_EQ(rig.control<QLineEdit>("Text(0)")->text(), source);
    EXPECT_EQ(rig.control<QLineEdit>("Text(1)")->text(), destination);

    for (const QString& name : theirs)
        EXPECT_EQ(apptest::bytesOf(destination + name), "kept: " + name.toUtf8())
            << name.toStdString();
    EXPECT_EQ(apptest::bytesOf(destination + "big.bin"), big);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(apptest::bytesOf(destination + QString("klein %1.bin").arg(i)),
                  ownBytes(i, 5000));
    const QStringList log = apptest::logLines(rig.log());
    EXPECT_TRUE(log.filter("Source allready exist - Trying to Delete '" + destination).isEmpty())
        << log.join('\n').toStdString();
}

// The destination folder swapped for the watched folder while a burst is copied: by a link put
// in its place, or by a bind mount over it.
enum class Swap { Link, BindMount };

class SwappedDestination : public ::testing::TestWithParam<Swap>, public ScanRig {};

TEST_P(SwappedDestination, NoFileBecomesItsOwnTwinAndEveryFileKeepsItsBytes) {
    constexpr int kFiles = 30;
    constexpr qint64 kSize = 300'000;
    QString why;
    const auto usb = stick(ScratchFileSystem::Type::Tmpfs, "stick", 64 << 20, &why);
    if (!usb)
        KW_CANNOT_RUN(why.toStdString());
    const QString backup = data.My.Destination;
    QStringList names;
    for (int i = 0; i < kFiles; ++i) {
        names.append(QString("Teil %1.bin").arg(i));
        writeBytes(in(names.last()), ownBytes(i, kSize));
    }

    // Where the files that did reach the destination lie after the swap.
    QString real = backup;
    std::unique_ptr<AtTestEnd> unbind;
    bool swapped = false;
    duringNextCopy([&] {
        swapped = true;
        if (GetParam() == Swap::Link) {
            real = out("stick/Backup.real/");
            ASSERT_EQ(::rename(encodeLocal(withoutTrailingSlash(backup)).constData(),
                               encodeLocal(withoutTrailingSlash(real)).constData()),
                      0);
            ASSERT_EQ(::symlink(encodeLocal(withoutTrailingSlash(source)).constData(),
                                encodeLocal(withoutTrailingSlash(backup)).constData()),
                      0);
        } else {
            ASSERT_EQ(runProgram("mount", {"--bind", withoutTrailingSlash(source),
                                           withoutTrailingSlash(backup)}),
                      "");
            unbind = std::make_unique<AtTestEnd>("umount -l " +
                                                 shellQuoted(withoutTrailingSlash(backup)));
        }
    });

    const QStringList lines = tick() + tick();
    ASSERT_TRUE(swapped) << "no copy ran";
    if (unbind)
        unbind->runNow();  // the real destination shows again

    EXPECT_EQ(lines.filter("Source allready exist").size(), 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.filter("Renaming ").size(), 0);
    for (const QString& name : entriesOf(source))
        EXPECT_TRUE(names.contains(name))
            << "written into the watched folder: " << name.toStdString();
    QStringList lost;
    for (int i = 0; i < kFiles; ++i) {
        if (bytesOf(in(names[i])) != ownBytes(i, kSize) &&
            bytesOf(real + names[i]) != ownBytes(i, kSize))
            lost.append(names[i]);
    }
    EXPECT_EQ(lost, QStringList());
}

INSTANTIATE_TEST_SUITE_P(ByLinkAndByBindMount, SwappedDestination,
                         ::testing::Values(Swap::Link, Swap::BindMount), [](const auto& info) {
                             return info.param == Swap::Link ? "Link" : "BindMount";
                         });

// A stick mounted over a folder that holds a folder of the destination's name: pulled during a
// copy, the path then names the folder beneath, which must take nothing.
class PulledStick : public ::testing::Test, public ScanRig {};

TEST_F(PulledStick, DuringACopyNothingMovesIntoTheFolderOfTheSameNameBeneath) {
    constexpr int kFiles = 6;
    constexpr qint64 kSize = kCopyChunk + kCopyChunk / 2;
    const QString mountPoint = out("stick");
    const QString beneath = mountPoint + "/sub/";
    ASSERT_EQ(fs::makePath(beneath), 0);
    QString why;
    const auto usb =
        ScratchFileSystem::make(ScratchFileSystem::Type::Tmpfs, mountPoint, 32 << 20, &why);
    if (!usb)
        KW_CANNOT_RUN(why.toStdString());
    ASSERT_EQ(fs::makePath(beneath), 0);  // now on the stick, the one beneath hidden
    data.My.Destination = beneath;
    ASSERT_TRUE(validateFolders(engine));  // the stick is seen while it is there
    QStringList names;
    for (int i = 0; i < kFiles; ++i) {
        names.append(QString("Film %1.bin").arg(i));
        writeBytes(in(names.last()), ownBytes(i, kSize));
    }
    bool pulled = false;
    duringNextCopy([&] {
        pulled = true;
        usb->unmount();
    });

    QStringList lines = tick();
    ASSERT_TRUE(pulled) << "no copy ran";
    lines += tick();

    EXPECT_EQ(entriesOf(beneath), QStringList()) << lines.join('\n').toStdString();
    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(bytesOf(in(names[i])) == ownBytes(i, kSize)) << names[i].toStdString();

    // Plugged in again, the files go onto the stick.
    ASSERT_TRUE(usb->mountAgain());
    tick();
    tick();
    EXPECT_EQ(fs::mountPointOf(beneath), usb->mountPoint());
    for (int i = 0; i < kFiles; ++i)
        EXPECT_TRUE(bytesOf(beneath + names[i]) == ownBytes(i, kSize)) << names[i].toStdString();
    EXPECT_TRUE(entriesOf(source).isEmpty());
    usb->unmount();
    EXPECT_EQ(entriesOf(beneath), QStringList()) << "moved beneath the mount point";
}

}  // namespace
