// Writers: a file moves only once its writer is done, whoever the writer is, and arrives once and
// whole in the state it was left in.
#include "core/files.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QScopeGuard>

#include <linux/capability.h>
#include <sys/stat.h>
#include <unistd.h>

#include <list>
#include <optional>

using namespace kw;
using namespace kw::test;

namespace {

// A shell script writes into the watched folder while the engine ticks every 200 ms, as this user
// or as another (CAP_LEASE and CAP_SYS_PTRACE lowered: only the folder's watch hears it).
struct InPlaceCase {
    const char* name;
    // Run by sh with $0 the file's path and $1 a folder beside the watched one; put N L writes N
    // bytes of the letter L to its standard output.
    const char* script;
    bool otherUser;
    bool copies;  // the destination lies on another file system
    bool onExt4;  // the watched folder lies on ext4, whose extent map shows reserved space
    qint64 size;  // what must arrive: size bytes of letter
    char letter;
    int movesWithinTicks;  // a reader: moved while it reads, within this many ticks
};

// A download that pauses with its file open; a file renamed in whole and read as a seeder does.
const char* const kPausesWhileOpen =
    "exec 3>>\"$0\"; for i in 1 2 3; do put 100000 a >&3; sleep 2.5; done; put 100000 a >&3";
const char* const kRenamedInAndReread =
    "put 100000 a >\"$1/f\"; mv \"$1/f\" \"$0\"; while cat \"$0\" >/dev/null 2>&1; do sleep 0.1; "
    "done";

const InPlaceCase kDownloads[] = {
    {"AnotherUsersDownloadThatPausesWhileOpen", kPausesWhileOpen, true, false, false, 400'000, 'a',
     0},
    {"AnotherUsersDownloadThatPausesWhileOpenOntoAnotherDisk", kPausesWhileOpen, true, true, false,
     400'000, 'a', 0},
    {"ClosedAndOpenedAgainASecondLater",
     "for i in 1 2 3; do put 100000 a >>\"$0\"; sleep 1; done; put 100000 a >>\"$0\"", false, false,
     false, 400'000, 'a', 0},
    {"RewrittenTwentyTimesInARow",
     "for l in a b c d e f g h i j k l m n o p q r s t; do put 50000 $l >\"$0\"; sleep 0.1; done",
     false, true, false, 50'000, 't', 0},
    {"PreallocatedAndFilledPieceByPieceByOpeningItAgain",
     "fallocate -l 400000 \"$0\"; for i in 0 1 2 3; do sleep 2.5; put 100000 a | "
     "dd of=\"$0\" bs=100000 seek=$i conv=notrunc iflag=fullblock status=none; done",
     false, false, true, 400'000, 'a', 0},
    {"RenamedInWholeWhileAReaderKeepsReadingIt", kRenamedInAndReread, false, false, false, 100'000,
     'a', 1},
    // Another user's file may have a writer unseen: it holds still for the quiet time first.
    {"AnotherUsersFileRenamedInWholeWhileItsReaderKeepsReadingIt", kRenamedInAndReread, true, false,
     false, 100'000, 'a', 20},
};

struct InPlaceRun {
    const InPlaceCase* row = nullptr;
    ScanRig rig;
    std::unique_ptr<ScratchFileSystem> ext4;
    QProcess writer;
    QStringList log;
    int ticksMet = 0;  // ticks that began with the file in the watched folder
    bool done = false;
    void tick() {  // unless the row is over; a broken promise ends it
        const QString file = rig.in("download.bin");
        const bool working = writer.state() != QProcess::NotRunning;
        const bool there = fs::facts(file).has_value();
        if (done || (!working && !there))
            return;
        log += rig.tick();
        ticksMet += there ? 1 : 0;
        const int within = row->movesWithinTicks;
        const char* broken = within > 0 && ticksMet > within ? "not moved while read"
                             : within == 0 && working && there && !fs::facts(file)
                                 ? "moved while its writer was at work"
                             : ticksMet >= 100 ? "never moved"
                                               : nullptr;
        if (broken) {
            done = true;
            ADD_FAILURE() << row->name << ": " << broken << "\n" << text();
        }
    }
    bool busy() const {
        return !done && (writer.state() != QProcess::NotRunning ||
                         fs::facts(rig.in("download.bin")).has_value());
    }
    std::string text() const { return log.join('\n').toStdString(); }
};

// The rows of one kind of user run side by side, so that their writers' pauses overlap.
class InPlaceWriter : public ::testing::TestWithParam<bool> {};

TEST_P(InPlaceWriter, MovesOnlyWhenItsWriterIsDoneAndArrivesOnceAndWhole) {
    const bool otherUser = GetParam();
    if (::geteuid() != 0)
        KW_CANNOT_RUN("mounts and a writer of another user need root");
    std::list<InPlaceRun> runs;
    for (const InPlaceCase& row : kDownloads) {
        if (row.otherUser != otherUser)
            continue;
        InPlaceRun& run = runs.emplace_back();
        run.row = &row;
        ScanRig& rig = run.rig;
        QString why;
        if (row.onExt4 && !(run.ext4 = ScratchFileSystem::make(ScratchFileSystem::Type::Ext4,
                                                               rig.source, 64 << 20, &why)))
            KW_CANNOT_RUN(why.toStdString());
        if (row.copies && !rig.destinationOnOtherFileSystem())
            KW_CANNOT_RUN("the destination's own file system cannot be mounted");
        fs::makePath(rig.dir.path() + "/stage/");
        for (const QString& folder : {rig.dir.path(), rig.source, rig.dir.path() + "/stage/"})
            ::chmod(encodeLocal(folder).constData(), 0777);
        rig.tick();  // the watch is made by the first tick: from then on it hears the writer
    }
    std::optional<WithoutLeaseCapability> noLease;
    const auto seeOthersAgain = qScopeGuard([&] {
        if (noLease)
            setCapability(CAP_SYS_PTRACE, true);
    });
    if (otherUser) {
        noLease.emplace();
        ASSERT_TRUE(noLease->active() && setCapability(CAP_SYS_PTRACE, false));
    }
    for (InPlaceRun& run : runs) {
        QStringList argv{"sh", "-c",
                         QLatin1String("put() { head -c \"$1\" /dev/zero | tr '\\0' \"$2\"; }\n") +
                             run.row->script,
                         run.rig.in("download.bin"), run.rig.dir.path() + "/stage/"};
        if (otherUser)
            argv =
                QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} + argv;
        run.writer.setProcessChannelMode(QProcess::ForwardedChannels);
        run.writer.start(argv.takeFirst(), argv);
        ASSERT_TRUE(run.writer.waitForStarted());
    }
    for (bool busy = true; busy;) {
        busy = false;
        for (InPlaceRun& run : runs) {
            run.tick();
            busy = busy || run.busy();
        }
        waitUntil([] { return false; }, busy ? 200 : 0);
    }
    for (InPlaceRun& run : runs) {
        SCOPED_TRACE(run.row->name);
        EXPECT_EQ(entriesOf(run.rig.destination), QStringList{"download.bin"}) << run.text();
        EXPECT_TRUE(bytesOf(run.rig.out("download.bin")) ==
                    QByteArray(run.row->size, run.row->letter))
            << run.text();
    }
}

INSTANTIATE_TEST_SUITE_P(Downloads, InPlaceWriter, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "OfAnotherUser" : "OfThisUser");
});

// Across file systems copies wait whole, unnamed, for their group: a program that opens a waiting
// copy's source for writing keeps its file, and the rest of the group moves.
TEST(WaitingCopy, AWriterOpeningACopiedFileBeforeItsGroupIsNamedKeepsIt) {
    ScanRig rig;
    if (!rig.destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    for (const char* name : {"eins.bin", "zwei.bin", "drei.bin"})
        writeBytes(rig.in(name), name);
    // Once the second copy runs, the first is whole and waits for its name.
    QString firstCopied;
    std::unique_ptr<Writer> writer;
    rig.desktop.onCopyProgress = [&] {
        if (rig.desktop.progress.size() != 2 || writer)
            return;
        firstCopied = FileNameOf(rig.desktop.progress.front().message.section(" -> ", 0, 0));
        writer = std::make_unique<Writer>(rig.in(firstCopied), 1, 4, 0);
        EXPECT_TRUE(writer->waitOpened() && writer->waitClosed());
    };
    EXPECT_TRUE(rig.tick().contains(ScanRig::copyErrorLine(kSourceOpenedForWriting)));
    EXPECT_EQ(bytesOf(rig.in(firstCopied)), firstCopied.toLatin1() + "aaaa");
    EXPECT_EQ(entriesOf(rig.source), QStringList{firstCopied});
    EXPECT_EQ(entriesOf(rig.destination).size(), 2);
}

}  // namespace
