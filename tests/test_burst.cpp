// Bursts and arrivals: files that come while the engine runs leave the watched folder soon after
// their writer closes them, whatever the interval; a burst ends with an exact register and exact
// statistics; a program killed in the middle of a burst loses nothing.
#include "core/files.h"
#include "core/inifile.h"
#include "platform/fs.h"
#include "platform/textcodec.h"
#include "scan/failure.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "tests/support/qtapp.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/writers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <csignal>
#include <memory>

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
    // Every file of the burst whole in the destination, none left in the watched folder, no
    // temporary copy left.
    void expectBurstArrivedWhole() {
        EXPECT_TRUE(entriesOf(source).isEmpty());
        const QStringList arrived = entriesOf(destination);
        ASSERT_EQ(arrived.size(), kBurstFiles) << arrived.mid(0, 5).join(", ").toStdString();
        for (int i = 0; i < kBurstFiles; ++i)
            ASSERT_EQ(readBytes(out(burstName(i))), burstBytes(i)) << i;
    }
    // Starts the engine as the program does: a first tick, then the timer.
    void startEngine(int intervalSeconds) {
        data.My.ScanInterval = intervalSeconds;
        engine.Timer_Timer();
        engine.Timer().start(intervalSeconds * 1000);
    }
};

TEST_F(Burst, AFileClosedInTheWatchedFolderMovesLongBeforeTheInterval) {
    startEngine(60);
    // Written by another program, as a download would be.
    ASSERT_EQ(QProcess::execute("sh", {"-c", "printf 'angekommen' > \"$1\"", "sh", in("neu.txt")}),
              0);

    EXPECT_TRUE(waitUntil([&] { return !fs::facts(in("neu.txt")); }, 20'000));
    EXPECT_EQ(readBytes(out("neu.txt")), "angekommen");

    // A file renamed into the watched folder counts as arrived too.
    writeBytes(dir.path() + "/fertig.txt", "verschoben");
    ASSERT_EQ(fs::renameNoReplace(dir.path() + "/fertig.txt", in("fertig.txt")), 0);
    EXPECT_TRUE(waitUntil([&] { return !fs::facts(in("fertig.txt")); }, 20'000));
    EXPECT_EQ(readBytes(out("fertig.txt")), "verschoben");
}

TEST_F(Burst, AFileStillBeingWrittenMovesOnlyAfterItsWriterClosesIt) {
    startEngine(60);
    const QString path = in("download.bin");
    // Writes, pauses with the file open, writes again, closes.
    QProcess writer;
    writer.start("sh", {"-c",
                        "exec 3>\"$1\"; printf 'erster Teil ' >&3; sleep 3; "
                        "printf 'zweiter Teil' >&3; exec 3>&-",
                        "sh", path});
    ASSERT_TRUE(writer.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return readBytes(path) == "erster Teil "; }));

    engine.Timer_Timer();  // a tick while the writer still holds the file
    EXPECT_EQ(readBytes(path), "erster Teil ");
    EXPECT_FALSE(fs::facts(out("download.bin")));

    ASSERT_TRUE(writer.waitForFinished(20'000));
    EXPECT_TRUE(waitUntil([&] { return !fs::facts(path); }, 20'000));
    EXPECT_EQ(readBytes(out("download.bin")), "erster Teil zweiter Teil");
}

TEST_F(Burst, ABurstEndsWithEveryFileWholeAndExactRegisterAndStatistics) {
    data.My.SavedFileCount = "0";
    data.My.SavedMegabytes = "0";
    makeBurst();

    const QStringList lines = tick();

    expectBurstArrivedWhole();
    const QStringList keys = LoadListFile(data.My.CopyListFile).value_or(QStringList());
    EXPECT_EQ(keys.size(), kBurstFiles);
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), kBurstFiles);
    EXPECT_EQ(data.CopiedFiles.keys().value_or(QStringList()).size(), kBurstFiles);
    EXPECT_EQ(ReadIniValue(data.My.INI, "Fl", "Fl"), QString::number(kBurstFiles));
    EXPECT_EQ(ReadIniValue(data.My.INI, "MB", "MB"), data.My.SavedMegabytes);
    EXPECT_EQ(engine.LBfiles().size(), kBurstFiles);
    // The log file, written in batches, ends with the last line the tick wrote.
    const QByteArray lastLine = encodeLocal(lines.last()) + "\r\n";
    EXPECT_TRUE(readBytes(data.My.Log).endsWith(lastLine + "\r\n"));
}

// A desktop whose sound takes a moment, so a burst lasts long enough to be killed in its middle.
class SlowDesktop : public RecordingDesktop {
public:
    bool PlaySoundFile(int, const QString&) override {
        QThread::msleep(2);
        return true;
    }
};

// The child half of the next test: moves the burst in the folders the parent names until the
// parent kills it. Runs only when started by that test.
TEST(BurstChild, DISABLED_MovesUntilKilled) {
    const QString root = qEnvironmentVariable("KW_BURST_ROOT");
    ASSERT_FALSE(root.isEmpty());
    ensureApplication();
    AppData data;
    data.My = fileSetFor(root + "/data/", QStringLiteral("Kopierwart"));
    data.My.Source = root + "/in/";
    data.My.Destination = root + "/out/";
    data.My.SoundFile = "klick.wav";
    data.BlockedExtensions = data.TaskList = QStringList();
    data.CopiedFiles = CopyRegister(LoadListFile(data.My.CopyListFile).value_or(QStringList()));
    EventLog log;
    log.setLogFile(data.My.Log);
    SlowDesktop desktop;
    ScanEngine engine(data, log, desktop);
    for (;;)
        engine.Timer_Timer();
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
        const QStringList copies = window.lines.filter(" ~~> Copy ");
        if (copies.size() != 2 || writer)
            return;
        firstCopied = FileNameOf(copies.first().section(" ~~> ", 1).section(" -> ", 0, 0));
        writer = std::make_unique<Writer>(in(firstCopied), 1, 4, 0);
        EXPECT_TRUE(writer->waitOpened());
        EXPECT_TRUE(writer->waitClosed());
    };

    const QStringList lines = tick();

    ASSERT_TRUE(writer);
    EXPECT_TRUE(lines.contains(copyErrorLine(kSourceOpenedForWriting)))
        << lines.join('\n').toStdString();
    EXPECT_EQ(readBytes(in(firstCopied)), firstCopied.toLatin1() + "aaaa");
    EXPECT_FALSE(fs::facts(out(firstCopied)));
    EXPECT_EQ(entriesOf(source), QStringList{firstCopied});
    for (const QString& name : entriesOf(destination))
        EXPECT_EQ(readBytes(out(name)), name.toLatin1());
    EXPECT_EQ(entriesOf(destination).size(), 2);
}

// The child is killed while copies wait for their names, across file systems as well as on one.
class KilledBurst : public Burst, public ::testing::WithParamInterface<bool> {};

TEST_P(KilledBurst, AProgramKilledInTheMiddleOfABurstLosesNothingAndFinishesWhenStartedAgain) {
    if (GetParam() && !destinationOnOtherFileSystem())
        KW_CANNOT_RUN("no second file system for the destination");
    makeBurst();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KW_BURST_ROOT", dir.path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=BurstChild.*"});
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return entriesOf(destination).size() >= kBurstFiles / 4; }));
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished();
    ASSERT_FALSE(entriesOf(source).isEmpty()) << "the child finished before it was killed";

    // Every file is whole on one side or on both; no partial file stands under a real name.
    for (int i = 0; i < kBurstFiles; ++i) {
        const bool inSource = fs::facts(in(burstName(i))).has_value();
        const bool inDestination = fs::facts(out(burstName(i))).has_value();
        ASSERT_TRUE(inSource || inDestination) << i;
        if (inSource) {
            ASSERT_EQ(readBytes(in(burstName(i))), burstBytes(i)) << i;
        }
        if (inDestination) {
            ASSERT_EQ(readBytes(out(burstName(i))), burstBytes(i)) << i;
        }
    }

    // Started again: it clears what the killed copy left behind and finishes the burst.
    data.CopiedFiles = CopyRegister(LoadListFile(data.My.CopyListFile).value_or(QStringList()));
    engine.RemoveAbandonedCopies();
    tick();
    expectBurstArrivedWhole();
    const QStringList keys = LoadListFile(data.My.CopyListFile).value_or(QStringList());
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size()) << "a key twice";
}

INSTANTIATE_TEST_SUITE_P(OnOneAndAcrossFileSystems, KilledBurst, ::testing::Bool());

}  // namespace
