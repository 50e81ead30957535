// Writers: a file moves only once its writers are done, whoever and wherever they are (another
// user, a FUSE exFAT stick, an sshfs share), whatever the wall clock does, and arrives once and
// whole in the state it was left in.
#include "core/files.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/teardown.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>

#include <linux/capability.h>
#include <sys/stat.h>
#include <unistd.h>

#include <list>

using namespace kw;
using namespace kw::test;
using kw::apptest::RunningProgram;

namespace {

// Sh's put N L writes N bytes of the letter L to its standard output.
const QString kPut = "put() { head -c \"$1\" /dev/zero | tr '\\0' \"$2\"; }\n";

const QStringList kAsNobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};

// Lowers CAP_LEASE and CAP_SYS_PTRACE while it lives: root then meets another user's writer as an
// ordinary user's program does, through neither a lease nor /proc.
struct OthersHidden {
    WithoutLeaseCapability noLease;
    const bool active = noLease.active() && setCapability(CAP_SYS_PTRACE, false);
    ~OthersHidden() {
        if (active)
            setCapability(CAP_SYS_PTRACE, true);
    }
};

// A private sshd on 127.0.0.1 for one key made here, its folder mounted through sshfs; undone
// however the test ends.
struct SshShare {
    QString start(const QString& keys, const QString& exported, const QString& mountPoint) {
        fs::makePath(keys);
        fs::makePath("/run/sshd");  // its privilege separation folder
        QTcpServer probe;
        QString why = probe.listen(QHostAddress::LocalHost, 0) ? "" : "no free port";
        const QString port = QString::number(probe.serverPort());
        probe.close();
        for (const QString& key : {keys + "host", keys + "client"})
            why += runProgram("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key});
        writeBytes(keys + "sshd_config",
                   QString("Port %1\nListenAddress 127.0.0.1\nHostKey %2host\nPidFile %2sshd.pid\n"
                           "AuthorizedKeysFile %2client.pub\nPermitRootLogin prohibit-password\n"
                           "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                           "StrictModes no\nSubsystem sftp internal-sftp\n")
                       .arg(port, keys)
                       .toUtf8());
        if (!why.isEmpty() ||
            !launch(server, {{"/usr/sbin/sshd", "-D", "-e", "-f", keys + "sshd_config"}}))
            return why + "sshd did not start";
        // One command for both, the share first: its end closes the server's connection.
        const QString at = shellQuoted(withoutTrailingSlash(mountPoint));
        undo = std::make_unique<AtTestEnd>(
            "fusermount3 -u -z " + at + " 2>/dev/null || umount -l " + at + " 2>/dev/null; kill " +
            QString::number(server.processId()));
        const QStringList sshfs = {
            "-o",
            QString("IdentityFile=%1client,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,"
                    "port=%2")
                .arg(keys, port),
            "root@127.0.0.1:" + withoutTrailingSlash(exported), withoutTrailingSlash(mountPoint)};
        waitUntil([&] { return (why = runProgram("sshfs", sshfs, 15'000)).isEmpty(); },
                  10'000);  // until it listens
        return why.isEmpty() ? why : why + QString::fromLocal8Bit(server.readAllStandardError());
    }
    QProcess server;
    std::unique_ptr<AtTestEnd> undo;  // ends before the server's QProcess, which then waits for it
};

// Where the folders lie: the destination on another file system (copies), the watched folder on
// ext4 (whose extent map shows reserved space), on FUSE exFAT or on a share (no lease proves
// anything there, and the share's writer is on the server, unheard).
enum class Place { OneDisk, TwoDisks, Ext4, ExfatStick, Share };

// A shell script writes into the watched folder while the engine ticks every 200 ms, as this user
// or as another (CAP_LEASE and CAP_SYS_PTRACE lowered: only the folder's watch hears it).
struct InPlaceCase {
    const char* name;
    const char* script;  // run by sh with $0 the file's path and $1 a folder beside the watched one
    bool otherUser;
    Place place;
    qint64 size = 400'000;     // what must arrive: size bytes of letter
    int movesWithinTicks = 0;  // a reader: moved while it reads, within this many ticks
    char letter = 'a';
    int firstLookAfterMs = 0;  // the engine's first look at the folder, after the writer started
};

// A download that pauses with its file open; a file renamed in whole and read as a seeder does.
const char* const kPausesWhileOpen =
    "exec 3>>\"$0\"; for i in 1 2 3; do put 100000 a >&3; sleep 2.5; done; put 100000 a >&3";
const char* const kRenamedInAndReread =
    "put 100000 a >\"$1/f\"; mv \"$1/f\" \"$0\"; while cat \"$0\" >/dev/null 2>&1; do sleep 0.1; "
    "done";
// Pauses longer than a tick, just short of the two seconds a file must hold still.
const char* const kLongPauses =
    "exec 3>>\"$0\"; for p in 1.5 1.9 1.7 1.5; do put 100000 a >&3; "
    "sleep $p; done; put 100000 a >&3";

const InPlaceCase kDownloads[] = {
    {"AnotherUsersDownloadThatPausesWhileOpen", kPausesWhileOpen, true, Place::OneDisk},
    {"AnotherUsersDownloadThatPausesWhileOpenOntoAnotherDisk", kPausesWhileOpen, true,
     Place::TwoDisks},
    {"ClosedAndOpenedAgainASecondLater",
     "for i in 1 2 3; do put 100000 a >>\"$0\"; sleep 1; done; put 100000 a >>\"$0\"", false,
     Place::OneDisk},
    {"RewrittenTwentyTimesInARow",
     "for l in a b c d e f g h i j k l m n o p q r s t; do put 50000 $l >\"$0\"; sleep 0.1; done",
     false, Place::TwoDisks, 50'000, 0, 't'},
    {"PreallocatedAndFilledPieceByPieceByOpeningItAgain",
     "fallocate -l 400000 \"$0\"; for i in 0 1 2 3; do sleep 2.5; put 100000 a | "
     "dd of=\"$0\" bs=100000 seek=$i conv=notrunc iflag=fullblock status=none; done",
     false, Place::Ext4},
    {"HeldOpenWithLongPausesOnAnExfatStick", kLongPauses, false, Place::ExfatStick, 500'000},
    {"HeldOpenWithLongPausesOnAShareWrittenOnTheServer", kLongPauses, false, Place::Share, 500'000},
    {"RenamedInWholeWhileAReaderKeepsReadingIt", kRenamedInAndReread, false, Place::OneDisk,
     100'000, 1},
    // Another user's file may have a writer unseen: it holds still for the quiet time first, and a
    // file met for the first time tells nothing of how long it has held still.
    {"AnotherUsersFileRenamedInWholeWhileItsReaderKeepsReadingIt", kRenamedInAndReread, true,
     Place::OneDisk, 100'000, 20},
    {"AnotherUsersWriterThatStalledBeforeTheFirstLook",
     "exec 3>>\"$0\"; put 50000 a >&3; sleep 4; put 50000 a >&3", true, Place::OneDisk, 100'000, 0,
     'a', 2500},
};

struct InPlaceRun {
    const InPlaceCase* row = nullptr;
    ScanRig rig;
    std::unique_ptr<ScratchFileSystem> mounted;
    SshShare share;
    QString writtenAt = rig.source;  // the writer's view of the watched folder
    QProcess writer;
    QElapsedTimer writing;
    QStringList log;
    int ticksMet = 0;  // ticks that began with the file in the watched folder
    bool done = false;
    bool there() const { return fs::facts(writtenAt + "download.bin").has_value(); }
    bool tick() {  // unless the row is over; a broken promise ends it. Whether it goes on.
        const bool working = writer.state() != QProcess::NotRunning;
        const bool met = there();
        if (done || (!working && !met) || writing.elapsed() < row->firstLookAfterMs)
            return busy();
        log += rig.tick();
        ticksMet += met ? 1 : 0;
        const int within = row->movesWithinTicks;
        const char* broken = within > 0 && ticksMet > within ? "not moved while read"
                             : within == 0 && working && met && !there()
                                 ? "moved while its writer was at work"
                             : writing.elapsed() > 60'000 ? "never moved"
                                                          : nullptr;
        if (broken) {
            done = true;
            ADD_FAILURE() << row->name << ": " << broken << "\n" << text();
        }
        return busy();
    }
    bool busy() const { return !done && (writer.state() != QProcess::NotRunning || there()); }
    std::string text() const { return log.join('\n').toStdString(); }
};

// The rows of one kind of user run side by side, so that their writers' pauses overlap.
class InPlaceWriter : public ::testing::TestWithParam<bool> {};

TEST_P(InPlaceWriter, MovesOnlyWhenItsWriterIsDoneAndArrivesOnceAndWhole) {
    const bool otherUser = GetParam();
    if (::geteuid() != 0)
        KW_CANNOT_RUN("mounts, an sshd and a writer of another user need root");
    std::list<InPlaceRun> runs;
    for (const InPlaceCase& row : kDownloads) {
        if (row.otherUser != otherUser)
            continue;
        InPlaceRun& run = runs.emplace_back();
        run.row = &row;
        ScanRig& rig = run.rig;
        QString why = row.place == Place::TwoDisks && !rig.destinationOnOtherFileSystem()
                          ? "the destination's own file system cannot be mounted"
                          : "";
        if (row.place == Place::Share) {
            fs::makePath(run.writtenAt = rig.dir.path() + "/exported/");
            why = run.share.start(rig.dir.path() + "/ssh/", run.writtenAt, rig.source);
        } else if (row.place == Place::Ext4 || row.place == Place::ExfatStick) {
            const auto type = row.place == Place::Ext4 ? ScratchFileSystem::Type::Ext4
                                                       : ScratchFileSystem::Type::Exfat;
            run.mounted = ScratchFileSystem::make(type, rig.source, 64 << 20, &why);
        }
        if (!why.isEmpty())
            KW_CANNOT_RUN(why.toStdString());
        fs::makePath(rig.dir.path() + "/stage/");
        for (const QString& folder : {rig.dir.path(), rig.source, rig.dir.path() + "/stage/"})
            ::chmod(encodeLocal(folder).constData(), 0777);
        if (!row.firstLookAfterMs)
            rig.tick();  // the watch is made by the first tick: from then on it hears the writer
    }
    std::optional<OthersHidden> hidden;
    if (otherUser) {
        ASSERT_TRUE(hidden.emplace().active);
    }
    for (InPlaceRun& run : runs) {
        const QStringList argv{"sh", "-c", kPut + run.row->script, run.writtenAt + "download.bin",
                               run.rig.dir.path() + "/stage/"};
        ASSERT_TRUE(launch(run.writer, {.command = otherUser ? kAsNobody + argv : argv}));
        run.writing.start();
    }
    while (std::count_if(runs.begin(), runs.end(), [](InPlaceRun& run) { return run.tick(); }))
        waitUntil([] { return false; }, 200);
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

// The real program as an ordinary user, its wall clock (only) moved through libfaketime once it
// looked at the file: a file of root's has no lease and its writer no /proc entry the program may
// read. A program a row, side by side.
struct Jump {
    const char* name;
    QByteArray offset;
    const char* script;  // run by sh as root with $0 the watched file, $1 a folder beside it
    RunningProgram rig{};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<QProcess> writer{};
    QString file() const { return rig.source + "download.bin"; }
};

TEST(ClockJump, NeitherCutsAHeldFileNorKeepsAFinishedOneWaiting) {
    const char* library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
    if (!fs::facts(library))
        KW_CANNOT_RUN("libfaketime is not installed");
    const auto user = ::geteuid() == 0 ? Account::ensure("kwclock") : std::nullopt;
    if (!user)
        KW_CANNOT_RUN("a file of another user needs root");
    // Held open with long pauses, appended to with pauses shorter than the quiet time, finished.
    Jump rows[] = {
        {"ForwardAnHourWhileHeldOpen", "+1h",
         "exec 3>\"$1/f\"; put 100000 a >&3; mv \"$1/f\" \"$0\"; for i in 2 3 4; do "
         "sleep 1.9; put 100000 a >&3; done"},
        {"ForwardAnHourBetweenACloseAndTheNextOpen", "+1h",
         "for i in 1 2 3 4; do put 100000 a >>\"$0\"; [ $i = 4 ] || sleep 2.5; done"},
        {"BackAnHourWithAFinishedFile", "-1h", "put 400000 a >\"$1/f\"; mv \"$1/f\" \"$0\""}};
    constexpr qint64 kWhole = 400'000;
    for (Jump& row : rows) {
        row.rig.setting("Ruhezeit", "5");
        const QString clock = row.rig.dir.path() + "/clock";
        writeBytes(clock, "+0\n");
        // A program built with the address sanitizer wants its runtime first.
        for (const QString& pair :
             QStringList{"FAKETIME_TIMESTAMP_FILE=" + clock, "FAKETIME_NO_CACHE=1",
                         "DONT_FAKE_MONOTONIC=1", "FAKETIME_DONT_FAKE_MONOTONIC=1",
                         "NO_FAKE_STAT=1", "LD_PRELOAD=" + QString(library),
                         "ASAN_OPTIONS=" + row.environment.value("ASAN_OPTIONS") +
                             ":verify_asan_link_order=0"})
            row.environment.insert(pair.section('=', 0, 0), pair.section('=', 1));
        ASSERT_EQ(runProgram("chown", {"-R", user->name + ":" + user->name, row.rig.dir.path()}),
                  "");
        ASSERT_TRUE(
            row.rig.program.start(row.rig.process, {.environment = row.environment, .user = user}));
    }
    for (Jump& row : rows) {
        ASSERT_TRUE(row.rig.waitStarted()) << row.name;
        row.writer =
            launched({{"sh", "-c", kPut + row.script, row.file(), row.rig.folder("stage")}});
    }
    // Between two looks of each program; seen by a program with the same environment.
    waitUntil([] { return false; }, 400);
    for (Jump& row : rows) {
        writeBytes(row.rig.dir.path() + "/clock", row.offset + "\n");
        QProcess date;
        ASSERT_TRUE(launch(date, {.command = {"date", "+%s"}, .environment = row.environment}) &&
                    date.waitForFinished(5000));
        ASSERT_NEAR(double(date.readAllStandardOutput().trimmed().toLongLong() -
                           QDateTime::currentSecsSinceEpoch()),
                    row.offset.startsWith('+') ? 3600.0 : -3600.0, 30.0)
            << row.name;
    }
    const auto writes = [](const Jump& row) { return row.writer->state() != QProcess::NotRunning; };
    while (std::any_of(std::begin(rows), std::end(rows), writes)) {
        for (Jump& row : rows) {
            const auto copy = fs::facts(row.rig.destination + "download.bin");
            EXPECT_TRUE(!copy || copy->size == kWhole)
                << row.name << ": a short copy of " << copy->size << " bytes";
            EXPECT_TRUE(fs::facts(row.file()) || FileLength(row.file()) == kWhole || !writes(row))
                << row.name << ": moved while being written";
        }
        if (::testing::Test::HasFailure())
            return;
        waitUntil([] { return false; }, 50);
    }
    for (Jump& row : rows) {
        // Finished files move at the latest a tick and the quiet time after their last write.
        EXPECT_TRUE(waitUntil([&] { return !fs::facts(row.file()); }, 9000))
            << row.name << ": still waiting";
        row.rig.stop();
        EXPECT_EQ(bytesOf(row.rig.destination + "download.bin"), QByteArray(kWhole, 'a'))
            << row.name << "\n"
            << row.rig.lines().join('\n').toStdString();
    }
}

}  // namespace
