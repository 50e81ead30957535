// Bursts and arrivals: files that come while the engine runs leave the watched folder soon after
// their writer closes them, whatever the interval; a burst ends with an exact register and exact
// statistics; a program killed in the middle of a burst loses nothing.
#include "core/files.h"
#include "core/inifile.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/scanrig.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <csignal>

using namespace kw;
using namespace kw::test;

namespace {

constexpr int kBurstFiles = 2'000;

// Each file of a burst holds its own bytes, so a file that arrived as another's shows.
QByteArray burstBytes(int i) {
    return QByteArray::number(i).repeated(1 + i % 700);
}
QString burstName(int i) {
    return QStringLiteral("Teil %1.bin").arg(i);
}

class Burst : public ::testing::Test, public ScanRig {
protected:
    void makeBurst() {
        for (int i = 0; i < kBurstFiles; ++i)
            writeBytes(in(burstName(i)), burstBytes(i));
    }
    // Every file of the burst whole in the destination, none left anywhere else, each key once.
    void expectBurstArrivedWhole() {
        EXPECT_TRUE(entriesOf(source).isEmpty());
        ASSERT_EQ(entriesOf(destination).size(), kBurstFiles);
        for (int i = 0; i < kBurstFiles; ++i)
            ASSERT_EQ(bytesOf(out(burstName(i))), burstBytes(i)) << i;
        const QStringList keys = LoadListFile(data.My.CopyListFile).value_or(QStringList());
        EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size()) << "a key twice";
    }
};

TEST_F(Burst, AFileClosedInTheWatchedFolderMovesLongBeforeTheInterval) {
    data.My.ScanInterval = 60;
    tick();
    engine.Timer().start(60'000);
    // Written by another program, as a download would be.
    ASSERT_EQ(QProcess::execute("sh", {"-c", "printf 'angekommen' > \"$1\"", "sh", in("neu.txt")}),
              0);
    EXPECT_TRUE(waitUntil([&] { return !fs::facts(in("neu.txt")); }, 20'000));
    EXPECT_EQ(bytesOf(out("neu.txt")), "angekommen");
}

TEST_F(Burst, ABurstEndsWithEveryFileWholeAndExactRegisterAndStatistics) {
    data.My.SavedFileCount = 0;
    makeBurst();

    const QStringList lines = tick();

    expectBurstArrivedWhole();
    EXPECT_EQ(LoadListFile(data.My.CopyListFile)->size(), kBurstFiles);
    EXPECT_EQ(ReadIniValue(data.My.INI, "Fl", "Fl"), QString::number(kBurstFiles));
    // The log file, written in batches, ends with the last line the tick wrote.
    EXPECT_TRUE(bytesOf(data.My.Log).endsWith(lines.last().toUtf8() + "\r\n\r\n"));
}

// The child half of the killed-burst test: moves the burst in the folders the parent names, with
// a sound that takes a moment so that the burst lasts, until the parent kills it.
TEST_F(Burst, DISABLED_MovesUntilKilled) {
    const QString root = qEnvironmentVariable("KW_BURST_ROOT");
    data.My = fileSetFor(root + "/data/", QStringLiteral("Kopierwart"));
    data.My.Source = root + "/in/";
    data.My.Destination = qEnvironmentVariable("KW_BURST_DESTINATION");
    data.My.SoundFile = "klick.wav";
    desktop.onPlaySound = [] { QThread::msleep(2); };
    for (;;)
        runTick(engine);
}

// Across file systems the copies of a burst wait whole under temporary names and are named in
// groups; a program that opens a waiting copy's source for writing keeps its file, and the rest
// of the group moves.
TEST_F(Burst, AWriterOpeningACopiedFileBeforeItsGroupIsNamedKeepsIt) {
    if (!destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    for (const char* name : {"eins.bin", "zwei.bin", "drei.bin"})
        writeBytes(in(name), name);
    // Once the second copy runs, the first is whole and waits for its name.
    QString firstCopied;
    std::unique_ptr<Writer> writer;
    desktop.onCopyProgress = [&] {
        if (desktop.progress.size() != 2 || writer)
            return;
        firstCopied = FileNameOf(desktop.progress.front().message.section(" -> ", 0, 0));
        writer = std::make_unique<Writer>(in(firstCopied), 1, 4, 0);
        EXPECT_TRUE(writer->waitOpened() && writer->waitClosed());
    };

    const QStringList lines = tick();

    EXPECT_TRUE(lines.contains(copyErrorLine(kSourceOpenedForWriting)));
    EXPECT_EQ(bytesOf(in(firstCopied)), firstCopied.toLatin1() + "aaaa");
    EXPECT_EQ(entriesOf(source), QStringList{firstCopied});
    EXPECT_EQ(entriesOf(destination).size(), 2);
}

// The child is killed while copies wait for their names, across file systems as well as on one.
class KilledBurst : public Burst, public ::testing::WithParamInterface<bool> {};

TEST_P(KilledBurst, AProgramKilledInTheMiddleOfABurstLosesNothingAndFinishesWhenStartedAgain) {
    if (GetParam() && !destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    makeBurst();
    qputenv("KW_BURST_ROOT", dir.path().toLocal8Bit());
    qputenv("KW_BURST_DESTINATION", destination.toLocal8Bit());
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=Burst.DISABLED_*"});
    ASSERT_TRUE(waitUntil([&] { return entriesOf(destination).size() >= kBurstFiles / 4; }));
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();
    ASSERT_FALSE(entriesOf(source).isEmpty()) << "the child finished before it was killed";

    // Every file is whole on one side or on both; no partial file stands under a real name.
    for (int i = 0; i < kBurstFiles; ++i) {
        const QString name = burstName(i);
        ASSERT_TRUE(fs::facts(in(name)) || fs::facts(out(name))) << i;
        for (const QString& path : {in(name), out(name)})
            ASSERT_TRUE(!fs::facts(path) || bytesOf(path) == burstBytes(i)) << i;
    }

    // Started again: it clears what the killed copy left behind and finishes the burst.
    data.CopiedFiles = CopyRegister(LoadListFile(data.My.CopyListFile).value_or(QStringList()));
    removeAbandonedCopies(engine);
    tick();
    expectBurstArrivedWhole();
}

INSTANTIATE_TEST_SUITE_P(OnOneAndAcrossFileSystems, KilledBurst, ::testing::Bool());

}  // namespace
