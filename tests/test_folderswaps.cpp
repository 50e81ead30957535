// A pass works in the folders it held at its start, restarts included, and stops, saying so, once
// one is swapped; folder settings naming one folder twice or nested are refused.
#include "platform/fs.h"
#include "scan/bincopy.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <unistd.h>

using namespace kw;
using namespace kw::test;

namespace {

using Type = ScratchFileSystem::Type;

struct Swap : ScanRig {
    std::unique_ptr<ScratchFileSystem> usb;
    std::unique_ptr<AtTestEnd> unbind;
    std::unique_ptr<TracedCalls> tracer;
    QString real;     // where the files that reached the destination lie after the swap
    QString beneath;  // the folder of the destination's name beneath the stick's mount point
    QStringList names;
    qint64 size = 0;
    bool swapped = false;
    QString why;

    void files(int count, qint64 bytes) {
        size = bytes;
        for (int i = 0; i < count; ++i) {
            names.append(QString("Teil %1.bin").arg(i));
            writeBytes(in(names.last()), ownBytes(i, size));
        }
    }
    bool onStick() {
        usb = stick(Type::Tmpfs, "stick", 64 << 20, &why);
        real = data.My.Destination;
        return usb != nullptr;
    }
    // The destination "sub" on a stick mounted over a folder that holds a "sub" of its own.
    bool overAFolderOfTheSameName() {
        beneath = out("stick/sub/");
        fs::makePath(beneath);
        usb = ScratchFileSystem::make(Type::Tmpfs, out("stick"), 32 << 20, &why);
        if (!usb)
            return false;
        fs::makePath(beneath);  // now on the stick, the one beneath hidden
        data.My.Destination = real = beneath;
        return validateFolders(engine);  // the stick is seen while it is there
    }
    bool swapDuringACopy(std::function<void()> swap) {
        return duringNextCopy([this, swap] { swapped = true, swap(); }), true;
    }
    QStringList lost() const {  // not whole in the watched folder nor where the copies lie now
        QStringList lost;
        for (int i = 0; i < names.size(); ++i)
            if (bytesOf(in(names[i])) != ownBytes(i, size) &&
                bytesOf(real + names[i]) != ownBytes(i, size))
                lost.append(names[i]);
        return lost;
    }
};

struct SwapRow {
    const char* what;
    std::function<bool(Swap&)> arrange;  // false, with why, where this machine cannot
    std::function<void(Swap&, const QStringList& log)> check;
    int ticks = 2;
};

const std::vector<SwapRow> kSwaps = {
    {"the destination replaced by a bind mount of the watched folder during a burst",
     [](Swap& s) {
         s.files(30, 300'000);
         return s.onStick() && s.swapDuringACopy([&s] {
             const QString backup = withoutTrailingSlash(s.data.My.Destination);
             ASSERT_EQ(runProgram("mount", {"--bind", withoutTrailingSlash(s.source), backup}), "");
             s.unbind = std::make_unique<AtTestEnd>("umount -l " + shellQuoted(backup));
         });
     },
     [](Swap& s, const QStringList& log) {
         EXPECT_EQ(log.filter(QRegularExpression("Source allready exist|Renaming ")),
                   QStringList());
         for (const QString& name : entriesOf(s.source))
             EXPECT_TRUE(s.names.contains(name))
                 << "written into the watched folder: " << name.toStdString();
     }},
    // The folder beneath the mount point takes nothing; plugged in again, the stick takes all.
    {"a stick pulled during a copy",
     [](Swap& s) {
         s.files(6, kCopyChunk + kCopyChunk / 2);
         return s.overAFolderOfTheSameName() && s.swapDuringACopy([&s] { s.usb->unmount(); });
     },
     [](Swap& s, const QStringList& log) {
         EXPECT_EQ(entriesOf(s.beneath), QStringList()) << text(log);
         ASSERT_TRUE(s.usb->mountAgain());
         s.tick(), s.tick();
         EXPECT_EQ(fs::mountPointOf(s.beneath), s.usb->mountPoint());
         EXPECT_TRUE(entriesOf(s.source).isEmpty());
         s.usb->unmount();
         EXPECT_EQ(entriesOf(s.beneath), QStringList()) << "moved beneath the mount point";
     }},
    // A pass that restarts after a numbered rename goes on with the folders it held.
    {"a stick pulled while a collision's numbered rename waits",
     [](Swap& s) {
         writeBytes(s.in("a.bin"), ownBytes(0, 1000));
         if (!s.overAFolderOfTheSameName())
             return false;
         writeBytes(s.out("stick/sub/a.bin"), "other contents");
         s.tracer = std::make_unique<TracedCalls>("renameat2",
                                                  QStringList{"renameat2:delay_enter=300000"});
         s.tracer->onCall("\"001 a.bin\"", [&s] { s.swapped = true, s.usb->unmount(); });
         s.why = s.tracer->why();
         return s.why.isEmpty();
     },
     [](Swap& s, const QStringList& log) {
         s.tracer.reset();
         EXPECT_EQ(entriesOf(s.beneath), QStringList()) << text(log);
         EXPECT_EQ(bytesOf(s.in("001 a.bin")), ownBytes(0, 1000)) << text(log);
     }},
    {"the destination renamed by its user during a copy",
     [](Swap& s) {
         s.files(6, kCopyChunk + kCopyChunk / 2);
         return s.onStick() && s.swapDuringACopy([&s] {
             s.real = s.out("stick/Backup renamed/");
             ASSERT_TRUE(QDir().rename(withoutTrailingSlash(s.data.My.Destination),
                                       withoutTrailingSlash(s.real)));
         });
     },
     [](Swap& s, const QStringList& log) {
         EXPECT_EQ(log.filter("Pass stopped: ").filter(s.data.My.Destination).size(), 1)
             << text(log);
         EXPECT_FALSE(entriesOf(s.source).isEmpty()) << "the pass went on in the renamed folder";
     },
     1},
};

TEST(FolderSwap, APassWorksOnlyInTheFoldersItHeldAndStopsWhenOneIsSwapped) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("mounts and strace need root");
    for (const SwapRow& row : kSwaps) {
        SCOPED_TRACE(row.what);
        Swap s;
        if (!row.arrange(s)) {
            ADD_FAILURE() << "cannot run: " << s.why.toStdString();
            continue;
        }
        QStringList log = s.tick();
        ASSERT_TRUE(s.swapped) << "the moment never came\n" << text(log);
        for (int i = 1; i < row.ticks; ++i)
            log += s.tick();
        if (s.unbind)
            s.unbind->runNow();  // the real destination shows again
        EXPECT_EQ(s.lost(), QStringList());
        row.check(s, log);
    }
}

TEST(FolderSettings, OneFolderTwiceOrOneInsideTheOtherIsRefusedAndCleared) {
    const std::vector<std::pair<const char*, std::function<QString(ScanRig&)>>> rows = {
        {"the watched folder by another spelling through a link",
         [](ScanRig& r) {
             QFile::link(r.dir.path() + "/in", r.dir.path() + "/link");
             return r.dir.path() + "/link/../link/";
         }},
        {"a destination inside the watched folder",
         [](ScanRig& r) { return fs::makePath(r.in("sub/deeper")), r.in("sub/deeper/"); }},
        {"a watched folder inside the destination", [](ScanRig& r) { return r.dir.path() + "/"; }},
    };
    for (const auto& [what, destination] : rows) {
        SCOPED_TRACE(what);
        ScanRig r;
        writeBytes(r.in("precious.avi"), "only copy");
        r.data.My.Destination = destination(r);
        EXPECT_FALSE(validateFolders(r.engine));
        EXPECT_EQ(
            r.takeLog().filter("Error same Directory for My.Source and My.Destination").size(), 1);
        EXPECT_TRUE(r.data.My.Destination.isEmpty());
        EXPECT_TRUE(r.tick().isEmpty());
        EXPECT_EQ(bytesOf(r.in("precious.avi")), "only copy");
    }
}

}  // namespace
