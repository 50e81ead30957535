// Writers the program cannot see (FUSE exFAT, an sshfs share, another user's file): a file moves
// only whole, after its writer closed it, whatever the wall clock does.
#include "core/files.h"
#include "platform/fs.h"
#include "scan/listing.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/teardown.h"
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

// A private sshd on 127.0.0.1 for one key made here, its folder mounted through sshfs; undone
// however the test ends.
struct SshShare {
    QString start(const QString& keys, const QString& exported, const QString& mountPoint) {
        if (::geteuid() != 0)
            return "an sshd of its own needs root";
        for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/sshfs", "/usr/bin/ssh-keygen"})
            if (!fs::facts(tool))
                return QString(tool) + " is not installed";
        fs::makePath(keys);
        fs::makePath("/run/sshd");  // its privilege separation folder
        for (const QString& key : {keys + "host", keys + "client"})
            if (const QString why =
                    runProgram("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", key});
                !why.isEmpty())
                return why;
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return "no free port";
        const QString port = QString::number(probe.serverPort());
        probe.close();
        writeBytes(keys + "sshd_config",
                   ("Port " + port + "\nListenAddress 127.0.0.1\nHostKey " + keys +
                    "host\nPidFile " + keys + "sshd.pid\nAuthorizedKeysFile " + keys +
                    "client.pub\nPermitRootLogin prohibit-password\n"
                    "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM "
                    "no\nStrictModes no\n"
                    "Subsystem sftp internal-sftp\n")
                       .toUtf8());
        if (!launch(server, {{"/usr/sbin/sshd", "-D", "-e", "-f", keys + "sshd_config"}}))
            return "sshd did not start";
        // One command for both, the share first: its end closes the server's connection.
        const QString at = shellQuoted(withoutTrailingSlash(mountPoint));
        undo = std::make_unique<AtTestEnd>(
            "fusermount3 -u -z " + at + " 2>/dev/null || umount -l " + at + " 2>/dev/null; kill " +
            QString::number(server.processId()));
        const QStringList sshfs = {"-o",
                                   "IdentityFile=" + keys +
                                       "client,StrictHostKeyChecking=no,"
                                       "UserKnownHostsFile=/dev/null,port=" +
                                       port,
                                   "root@127.0.0.1:" + withoutTrailingSlash(exported),
                                   withoutTrailingSlash(mountPoint)};
        QString why;
        waitUntil([&] { return (why = runProgram("sshfs", sshfs, 15'000)).isEmpty(); },
                  10'000);  // until it listens
        return why.isEmpty() ? why : why + QString::fromLocal8Bit(server.readAllStandardError());
    }
    ~SshShare() {
        undo.reset();
        server.waitForFinished(5000);
    }
    QProcess server;
    std::unique_ptr<AtTestEnd> undo;
};

enum class Place { ExfatStick, NetworkShare };

class HiddenWriter : public ::testing::TestWithParam<Place>, public ScanRig {};

// Pauses longer than a tick, just short of the two seconds a file must hold still.
TEST_P(HiddenWriter, AFileHeldOpenWithLongPausesMovesOnlyWholeAfterItsWriterClosedIt) {
    QString why;
    std::unique_ptr<ScratchFileSystem> stick;
    SshShare share;
    QString writtenAt = source;  // the writer's view of the watched folder
    if (GetParam() == Place::ExfatStick) {
        stick = ScratchFileSystem::make(ScratchFileSystem::Type::Exfat, source, 32 << 20, &why);
    } else {
        writtenAt = dir.path() + "/exported/";
        fs::makePath(writtenAt);
        why = share.start(dir.path() + "/ssh/", writtenAt, source);
    }
    if (!why.isEmpty())
        KW_CANNOT_RUN(why.toStdString());
    Writer writer(writtenAt + "download.bin", 5, 100'000, QList<int>{1500, 1900, 1700});
    ASSERT_TRUE(writer.waitOpened());
    tickWhileWritten(writer, "download.bin", 500'000, 500, writtenAt);
    EXPECT_EQ(bytesOf(out("download.bin")), QByteArray(500'000, 'a'));
}

INSTANTIATE_TEST_SUITE_P(OnExfatAndOnAShare, HiddenWriter,
                         ::testing::Values(Place::ExfatStick, Place::NetworkShare),
                         [](const auto& info) {
                             return info.param == Place::ExfatStick ? "ExfatStick" : "NetworkShare";
                         });

// The real program as an ordinary user, its wall clock (only) moved through libfaketime: another
// user's file has no lease and its writer no /proc entry the program may read. A program a row,
// side by side.
struct Jump {
    const char* name;
    QByteArray offset;  // written to the program's clock file once it looked at the file
    // Held open with long pauses, appended to with closes between pieces, or finished.
    enum { Finished, HeldOpen, Reopened } writing;

    RunningProgram rig{};
    QProcessEnvironment environment{};
    std::unique_ptr<Writer> writer{};
    std::unique_ptr<QProcess> reopening{};
    QString file() const { return rig.source + "download.bin"; }
    bool writes() const {
        return writer ? writer->running() : reopening && reopening->state() != QProcess::NotRunning;
    }
};

TEST(ClockJump, NeitherCutsAHeldFileNorKeepsAFinishedOneWaiting) {
    const char* library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
    if (!fs::facts(library))
        KW_CANNOT_RUN("libfaketime is not installed");
    const auto user = ::geteuid() == 0 ? Account::ensure("kwclock") : std::nullopt;
    if (!user)
        KW_CANNOT_RUN("a file of another user needs root");
    Jump rows[] = {{"ForwardAnHourWhileHeldOpen", "+1h", Jump::HeldOpen},
                   {"ForwardAnHourBetweenACloseAndTheNextOpen", "+1h", Jump::Reopened},
                   {"BackAnHourWithAFinishedFile", "-1h", Jump::Finished}};
    constexpr qint64 kWhole = 400'000;
    for (Jump& row : rows) {
        row.rig.setting("Ruhezeit", "5");
        const QString clock = row.rig.dir.path() + "/clock";
        writeBytes(clock, "+0\n");
        row.environment = QProcessEnvironment::systemEnvironment();
        for (const auto& [key, value] :
             {std::pair{"FAKETIME_TIMESTAMP_FILE", clock},
              {"FAKETIME_NO_CACHE", "1"},
              {"DONT_FAKE_MONOTONIC", "1"},
              {"FAKETIME_DONT_FAKE_MONOTONIC", "1"},
              {"NO_FAKE_STAT", "1"},
              {"LD_PRELOAD", library},
              // A program built with the address sanitizer wants its runtime first.
              {"ASAN_OPTIONS",
               row.environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0"}})
            row.environment.insert(key, value);
        ASSERT_EQ(runProgram("chown", {"-R", user->name + ":" + user->name, row.rig.dir.path()}),
                  "");
        ASSERT_TRUE(
            row.rig.program.start(row.rig.process, {.environment = row.environment, .user = user}));
    }
    for (Jump& row : rows) {
        ASSERT_TRUE(row.rig.waitStarted()) << row.name;
        if (row.writing == Jump::Reopened) {
            // Pauses shorter than the quiet time; the wall clock set forward in the first.
            row.reopening =
                launched({{"sh", "-c",
                           "for i in 1 2 3 4; do head -c 100000 /dev/zero | tr '\\0' a >>\"$0\"; "
                           "[ $i = 4 ] || sleep 2.5; done",
                           row.file()}});
            continue;
        }
        // The file is another user's before it comes into the watched folder.
        const QString staged = row.rig.folder("stage") + "download.bin";
        writeBytes(staged, row.writing == Jump::HeldOpen ? QByteArray() : QByteArray(kWhole, 'a'));
        ASSERT_TRUE(giveToAnotherUser(staged));
        if (row.writing == Jump::HeldOpen) {
            row.writer = std::make_unique<Writer>(staged, 4, 100'000, 1900);
            ASSERT_TRUE(row.writer->waitOpened());
        }
        ASSERT_EQ(::rename(encodeLocal(staged).constData(), encodeLocal(row.file()).constData()),
                  0);
    }
    // Between two looks of each program; seen by a program with the same environment.
    waitUntil([] { return false; }, 400);
    for (Jump& row : rows) {
        writeBytes(row.rig.dir.path() + "/clock", row.offset + "\n");
        QProcess date;
        launch(date, {.command = {"date", "+%s"}, .environment = row.environment});
        ASSERT_TRUE(date.waitForFinished(5000));
        ASSERT_NEAR(double(date.readAllStandardOutput().trimmed().toLongLong() -
                           QDateTime::currentSecsSinceEpoch()),
                    row.offset.startsWith('+') ? 3600.0 : -3600.0, 30.0)
            << row.name;
    }
    const auto writing = [&] {
        return std::any_of(std::begin(rows), std::end(rows),
                           [](const Jump& row) { return row.writes(); });
    };
    while (writing()) {
        for (Jump& row : rows) {
            const auto copy = fs::facts(row.rig.destination + "download.bin");
            EXPECT_TRUE(!copy || copy->size == kWhole)
                << row.name << ": a short copy of " << copy->size << " bytes";
            if (FileLength(row.file()) < kWhole && row.writes()) {
                EXPECT_TRUE(fs::facts(row.file())) << row.name << ": moved while being written";
            }
        }
        if (::testing::Test::HasFailure())
            return;
        waitUntil([] { return false; }, 50);
    }
    for (Jump& row : rows) {
        EXPECT_TRUE(!row.writer || row.writer->waitClosed()) << row.name;
        // Finished files move at the latest a tick and the quiet time after their last write.
        EXPECT_TRUE(waitUntil([&] { return !fs::facts(row.file()); }, 9000))
            << row.name << ": still waiting";
        row.rig.stop();
        EXPECT_EQ(bytesOf(row.rig.destination + "download.bin"), QByteArray(kWhole, 'a'))
            << row.name << "\n"
            << row.rig.lines().join('\n').toStdString();
    }
}

// Another user's writer, stalled for over two seconds and seen by neither a lease nor /proc (as an
// ordinary user's program sees it): the first tick knows nothing of the file's past and leaves it.
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
    ASSERT_TRUE(waitUntil(
        [&] { return bytesOf(QString("/proc/%1/status").arg(writer)).contains("Uid:\t65534"); },
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
