// Writers the program cannot see: where no lease can be had (an exFAT stick through FUSE, a
// network share through sshfs with the writer on the server, a file of another user) a file
// that a writer holds open and fills with long pauses is never moved before the writer has
// closed it, so the destination never holds a short copy, and it moves whole after. A jump of
// the wall clock changes neither: forward it does not make a held file look old, backward it
// does not keep a finished file waiting for an hour. A file met for the first time is never taken
// as holding still, however long ago it was last written: a stalled writer may still hold it.
#include "core/files.h"
#include "platform/fs.h"
#include "scan/listing.h"
#include "tests/running_program.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/teardown.h"
#include "tests/support/tracedcalls.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>

#include <linux/capability.h>
#include <unistd.h>

using namespace kw;
using namespace kw::test;
using kw::apptest::RunningProgram;

namespace {

// Pauses longer than a tick and just short of the two seconds a file must hold still.
const QList<int> kPauses = {1500, 1900, 1700};

// A private sshd on 127.0.0.1 that lets in one key made here, and its folder mounted through
// sshfs. Stopped and unmounted when it goes, also when the test fails or is killed.
struct SshShare {
    // Empty text when the share is mounted at mountPoint; otherwise why not.
    QString start(const QString& root, const QString& exported, const QString& mountPoint) {
        if (::geteuid() != 0)
            return "an sshd of its own needs root";
        for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/sshfs", "/usr/bin/ssh-keygen"}) {
            if (!fs::facts(tool))
                return QString(tool) + " is not installed";
        }
        const QString keys = root + "ssh/";
        fs::makePath(keys);
        fs::makePath("/run/sshd");  // its privilege separation folder
        for (const QString& key : {keys + "host", keys + "client"}) {
            if (const QString why =
                    runProgram("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key});
                !why.isEmpty())
                return why;
        }
        fs::replaceAtomically(keys + "authorized_keys", apptest::bytesOf(keys + "client.pub"));
        int port = 0;
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0))
                return "no free port";
            port = probe.serverPort();
        }
        const QByteArray config = "Port " + QByteArray::number(port) +
                                  "\nListenAddress 127.0.0.1\nHostKey " + (keys + "host").toUtf8() +
                                  "\nPidFile " + (keys + "sshd.pid").toUtf8() +
                                  "\nAuthorizedKeysFile " + (keys + "authorized_keys").toUtf8() +
                                  "\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                                  "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n"
                                  "Subsystem sftp internal-sftp\n";
        fs::replaceAtomically(keys + "sshd_config", config);
        server.start("/usr/sbin/sshd", {"-D", "-e", "-f", keys + "sshd_config"});
        if (!server.waitForStarted(5000))
            return "sshd did not start";
        // One command for both, the share first: its end closes the server's connection.
        undo = std::make_unique<AtTestEnd>(
            "fusermount3 -u -z " + shellQuoted(withoutTrailingSlash(mountPoint)) +
            " 2>/dev/null || umount -l " + shellQuoted(withoutTrailingSlash(mountPoint)) +
            " 2>/dev/null; kill " + QString::number(server.processId()));
        const QStringList sshfs = {
            "-o",
            "IdentityFile=" + keys +
                "client,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null," +
                "port=" + QString::number(port),
            "root@127.0.0.1:" + withoutTrailingSlash(exported), withoutTrailingSlash(mountPoint)};
        QString why;
        // Until the server listens.
        waitUntil([&] { return (why = runProgram("sshfs", sshfs, 15'000)).isEmpty(); }, 10'000);
        if (!why.isEmpty())
            return why + QString::fromLocal8Bit(server.readAllStandardError());
        return {};
    }
    ~SshShare() {
        undo.reset();
        server.waitForFinished(5000);
    }

    QProcess server;
    std::unique_ptr<AtTestEnd> undo;
};

// Where the watched folder lies and where the writer writes.
enum class Place { ExfatStick, NetworkShare };

class HiddenWriter : public ::testing::TestWithParam<Place>, public ScanRig {};

// A tick about every half second while the writer holds the file, then on until it moved.
TEST_P(HiddenWriter, AFileHeldOpenWithLongPausesMovesOnlyWholeAfterItsWriterClosedIt) {
    QString why;
    std::unique_ptr<ScratchFileSystem> stick;
    SshShare share;
    QString writtenAt = source;  // the writer's view of the watched folder
    if (GetParam() == Place::ExfatStick) {
        stick = ScratchFileSystem::make(ScratchFileSystem::Type::Exfat, source, 32 << 20, &why);
        if (!stick)
            KW_CANNOT_RUN(why.toStdString());
    } else {
        writtenAt = dir.path() + "/exported/";
        fs::makePath(writtenAt);
        why = share.start(dir.path() + "/", writtenAt, source);
        if (!why.isEmpty())
            KW_CANNOT_RUN(why.toStdString());
    }
    constexpr int kPieces = 5;
    constexpr qint64 kPiece = 100'000;
    constexpr qint64 kWhole = kPieces * kPiece;
    Writer writer(writtenAt + "download.bin", kPieces, kPiece, kPauses);
    ASSERT_TRUE(writer.waitOpened());

    tickWhileWritten(writer, "download.bin", kWhole, 500, writtenAt);
    EXPECT_EQ(bytesOf(out("download.bin")), QByteArray(kWhole, 'a'));
}

INSTANTIATE_TEST_SUITE_P(OnExfatAndOnAShare, HiddenWriter,
                         ::testing::Values(Place::ExfatStick, Place::NetworkShare),
                         [](const auto& info) {
                             return info.param == Place::ExfatStick ? "ExfatStick" : "NetworkShare";
                         });

// The real program with its wall clock set by the test through libfaketime (the machine's clock
// and the program's monotonic clock stay as they are), run as an ordinary user of its own: a file
// of another user gets no lease, and the writer (this test's child, run by root) does not show in
// the /proc the program may read. Only the folder's watch and the time the file is left alone can
// tell it is finished.
struct Jump {
    const char* name;
    QByteArray offset;  // written to the program's clock file once it runs
    // A writer holds the file open with long pauses, or writes it in place closing it between
    // pieces (the program hears it through the folder's watch only), else it is finished.
    enum { Finished, HeldOpen, Reopened } writing;
};

void PrintTo(const Jump& jump, std::ostream* out) {
    *out << jump.name;
}

class ClockJump : public ::testing::TestWithParam<Jump> {};

TEST_P(ClockJump, NeitherCutsAHeldFileNorKeepsAFinishedOneWaiting) {
    const char* library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
    if (!fs::facts(library))
        KW_CANNOT_RUN("libfaketime is not installed");
    if (::geteuid() != 0)
        KW_CANNOT_RUN("a file of another user needs root");
    RunningProgram rig;
    rig.setting("Ruhezeit", "5");
    const QString stage = rig.folder("stage");
    const QString clock = rig.dir.path() + "/clock";
    ASSERT_EQ(fs::replaceAtomically(clock, "+0\n"), 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("FAKETIME_TIMESTAMP_FILE", clock);
    // A program built with the address sanitizer wants its runtime loaded first.
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") +
                                           QLatin1String(":verify_asan_link_order=0"));
    environment.insert("FAKETIME_NO_CACHE", "1");
    environment.insert("DONT_FAKE_MONOTONIC", "1");
    environment.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
    environment.insert("NO_FAKE_STAT", "1");
    const QString user = QStringLiteral("kwclock");
    if (!runProgram("id", {"-u", user}).isEmpty()) {
        ASSERT_EQ(runProgram("useradd", {"--system", "--no-create-home", "--shell",
                                         "/usr/sbin/nologin", user}),
                  "");
    }
    ASSERT_EQ(runProgram("chown", {"-R", user + ":" + user, rig.dir.path()}), "");
    // The library is loaded by the program only: loaded into the wrapper too, it would make its
    // shared state as root, which the program could not open any more.
    rig.start({"setpriv", "--reuid=" + user, "--regid=" + user, "--clear-groups", "--inh-caps=-all",
               "--bounding-set=-all", "env", QLatin1String("LD_PRELOAD=") + library},
              environment);
    ASSERT_TRUE(rig.waitStarted());
    environment.insert("LD_PRELOAD", library);

    const Jump jump = GetParam();
    // The file is another user's before it comes into the watched folder.
    const QString staged = stage + "download.bin";
    constexpr int kPieces = 4;
    constexpr qint64 kPiece = 100'000;
    constexpr qint64 kWhole = kPieces * kPiece;
    std::unique_ptr<Writer> writer;
    QProcess reopening;
    if (jump.writing == Jump::Reopened) {
        // Shorter pauses than the program's quiet time, the wall clock set forward in the first.
        reopening.start("sh",
                        {"-c",
                         "for i in 1 2 3 4; do head -c 100000 /dev/zero | tr '\\0' a >>\"$0\"; "
                         "[ $i = 4 ] || sleep 2.5; done",
                         rig.source + "download.bin"});
        ASSERT_TRUE(reopening.waitForStarted());
    } else {
        ASSERT_EQ(
            fs::replaceAtomically(
                staged, jump.writing == Jump::HeldOpen ? QByteArray() : QByteArray(kWhole, 'a')),
            0);
        ASSERT_TRUE(giveToAnotherUser(staged));
        if (jump.writing == Jump::HeldOpen) {
            writer = std::make_unique<Writer>(staged, kPieces, kPiece, QList<int>{1900});
            ASSERT_TRUE(writer->waitOpened());
        }
        ASSERT_EQ(::rename(encodeLocal(staged).constData(),
                           encodeLocal(rig.source + "download.bin").constData()),
                  0);
    }
    // The clock jumps once the program has looked at the file (a tick a second, and one on its
    // arrival): between two looks, where a rule by the wall clock would be fooled.
    waitUntil([] { return false; }, 400);
    ASSERT_EQ(fs::replaceAtomically(clock, jump.offset + "\n"), 0);
    // The jump reaches a program run with the same environment.
    QProcess date;
    date.setProcessEnvironment(environment);
    date.start("date", {"+%s"});
    ASSERT_TRUE(date.waitForFinished(5000));
    const qint64 shift =
        date.readAllStandardOutput().trimmed().toLongLong() - QDateTime::currentSecsSinceEpoch();
    ASSERT_NEAR(double(shift), jump.offset.startsWith('+') ? 3600.0 : -3600.0, 30.0);

    QElapsedTimer since;
    since.start();

    const auto writing = [&] {
        return writer ? writer->running() : reopening.state() != QProcess::NotRunning;
    };
    if (jump.writing != Jump::Finished) {
        while (writing()) {
            const bool unfinished = FileLength(rig.source + "download.bin") < kWhole;
            const auto copy = fs::facts(rig.destination + "download.bin");
            ASSERT_TRUE(!copy || copy->size == kWhole)
                << "a short copy in the destination: " << copy->size << " bytes";
            if (unfinished && writing()) {
                ASSERT_TRUE(fs::facts(rig.source + "download.bin")) << "moved while being written";
            }
            waitUntil([&] { return !writing(); }, 50);
        }
        ASSERT_TRUE(writer ? writer->waitClosed() : reopening.exitCode() == 0);
        since.start();
    }
    // Finished files move at the latest a tick and the quiet time after their last write.
    EXPECT_TRUE(waitUntil([&] { return !fs::facts(rig.source + "download.bin"); }, 9000))
        << "still waiting " << since.elapsed() << " ms after the last write";
    rig.stop();
    EXPECT_EQ(apptest::bytesOf(rig.destination + "download.bin"), QByteArray(kWhole, 'a'))
        << rig.lines().join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    ForwardAndBack, ClockJump,
    ::testing::Values(Jump{"ForwardAnHourWhileHeldOpen", "+1h", Jump::HeldOpen},
                      Jump{"ForwardAnHourBetweenACloseAndTheNextOpen", "+1h", Jump::Reopened},
                      Jump{"BackAnHourWithAFinishedFile", "-1h", Jump::Finished}),
    [](const auto& info) { return std::string(info.param.name); });

// A writer of another user that wrote the file more than two seconds ago and stalls with the file
// still open for writing, where neither a lease nor /proc can tell of it (the file is that
// user's, CAP_LEASE and CAP_SYS_PTRACE are lowered, as an ordinary user has neither). The first
// tick that meets the file knows nothing of its past: it must not move it.
TEST(StalledHiddenWriter, AFileMetForTheFirstTimeIsNeverTakenAsHoldingStill) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("a writer of another user needs root");
    ScanRig rig;
    writeBytes(rig.in("stalled.bin"), {});
    ASSERT_TRUE(giveToAnotherUser(rig.in("stalled.bin")));
    const QString opened = rig.dir.path() + "/opened";
    const pid_t writer =
        startProgram({"sh", "-c",
                      "exec 3>>\"$0\"; printf 'first piece' >&3; : > \"$1\"; "
                      "exec setpriv --reuid=65534 --regid=65534 --clear-groups sleep 60",
                      rig.in("stalled.bin"), opened});
    ASSERT_TRUE(waitUntil([&] { return fs::facts(opened).has_value(); }, 10'000));
    QElapsedTimer clock;
    clock.start();
    // The writer has become the other user once its process shows that user's id.
    ASSERT_TRUE(waitUntil(
        [&] {
            QFile status(QStringLiteral("/proc/%1/status").arg(writer));
            return status.open(QIODevice::ReadOnly) && status.readAll().contains("Uid:\t65534");
        },
        10'000));
    WithoutLeaseCapability noLease;
    ASSERT_TRUE(noLease.active());
    ASSERT_TRUE(setCapability(CAP_SYS_PTRACE, false));
    waitUntil([&] { return clock.elapsed() > 2500; }, 3000);

    const QStringList log = rig.tick();
    setCapability(CAP_SYS_PTRACE, true);
    endProgram(writer);
    EXPECT_TRUE(log.filter("open for writing").isEmpty())
        << "the writer was seen; the case needs one that is not: " << log.join('\n').toStdString();
    EXPECT_EQ(bytesOf(rig.in("stalled.bin")), "first piece") << log.join('\n').toStdString();
    EXPECT_FALSE(fs::facts(rig.out("stalled.bin")));
}

}  // namespace
