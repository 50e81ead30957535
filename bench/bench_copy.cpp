// The cycle at work: one 1 GiB file moved through a real tick, on one file system (a rename) and
// across file systems (a copy), beside the same copy made by cp (alone, with a sync of the copy,
// and with the sync and the removal of the source, which is the move the tick makes), BinCopy
// alone, and one tick over 10,000 files that the register of 100,000 keys already knows and
// whose copies lie in the destination. Set KW_BENCH_DIR to measure on another file system than
// /tmp, and KW_BENCH_OTHER_DIR to name the other file system of the moves across file systems
// (default /dev/shm).
#include "bench/silentdesktop.h"
#include "bench/tick.h"
#include "core/eventlog.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "scan/bincopy.h"
#include "scan/engine.h"
#include "scan/listing.h"
#include "scan/register.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

using namespace kw;
using kw::bench::runTick;
using kw::bench::SilentDesktop;

namespace {

constexpr qint64 kLargeFile = qint64(1) << 30;
constexpr int kFiles = 10'000;
constexpr int kRegisterSize = 100'000;

QString benchFolder(const char* variable, const char* fallback) {
    const QByteArray folder = qgetenv(variable);
    return QString::fromLocal8Bit(folder.isEmpty() ? QByteArray(fallback) : folder);
}

// Watched, destination and data folder in one temporary folder, and the run's state. With
// acrossFileSystems the destination lies in a temporary folder on the other file system.
struct Run {
    explicit Run(bool acrossFileSystems = false)
        : dir(benchFolder("KW_BENCH_DIR", "/tmp") + QStringLiteral("/kw-bench-XXXXXX")),
          otherDir(benchFolder("KW_BENCH_OTHER_DIR", "/dev/shm") +
                   QStringLiteral("/kw-bench-XXXXXX")) {
        const QString root = dir.path() + QLatin1Char('/');
        source = root + QStringLiteral("in/");
        destination = (acrossFileSystems ? otherDir.path() + QLatin1Char('/') : root) +
                      QStringLiteral("out/");
        fs::makePath(source);
        fs::makePath(destination);
        fs::makePath(root + QStringLiteral("data/"));
        data.My = fileSetFor(root + QStringLiteral("data/"), QStringLiteral("Kopierwart"));
        data.My.Source = source;
        data.My.Destination = destination;
        data.My.SavedFileCount = 0;
        data.My.SavedMegabytes = 0;
        data.BlockedExtensions = QStringList();
        data.TaskList = QStringList();
        data.CopiedFiles = CopyRegister(QStringList());
        log.setLogFile(data.My.Log);
        // A log at its cap, so every line costs a full rewrite as in a long run.
        fs::replaceAtomically(data.My.Log, QByteArray(kLogFileMaximum - 2, 'x') + "\r\n");
    }

    QTemporaryDir dir;
    QTemporaryDir otherDir;
    QString source;
    QString destination;
    AppData data;
    EventLog log;
    SilentDesktop desktop;
};

void run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        std::abort();
}

// Flushes what earlier runs left dirty, so no measurement pays for another's write-back.
void settle() {
    run(QStringLiteral("sync"), {});
}

void makeLargeFile(const QString& path) {
    run(QStringLiteral("dd"),
        {QStringLiteral("if=/dev/urandom"), QStringLiteral("of=") + path, QStringLiteral("bs=1M"),
         QStringLiteral("count=1024"), QStringLiteral("status=none")});
}

Run& largeFileRun() {
    static Run r;
    static bool made = false;
    if (!made) {
        makeLargeFile(r.source + QStringLiteral("big.bin"));
        made = true;
    }
    return r;
}

Run& acrossFileSystemsRun() {
    static Run r(true);
    static bool made = false;
    if (!made) {
        makeLargeFile(r.source + QStringLiteral("big.bin"));
        made = true;
    }
    return r;
}

void moveOneGiBThroughTick(benchmark::State& state, Run& r) {
    const QString source = r.source + QStringLiteral("big.bin");
    const QString moved = r.destination + QStringLiteral("big.bin");
    for (auto _ : state) {
        settle();
        r.data.CopiedFiles = CopyRegister(QStringList());
        ScanEngine engine(r.data, r.log, r.desktop);
        QElapsedTimer timer;
        timer.start();
        runTick(engine);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (FileLength(moved) != kLargeFile || FileLength(source) != -1) {
            state.SkipWithError("the tick did not move the file");
            break;
        }
        // Back into the watched folder for the next round (across file systems a copy, not
        // timed); the data stays in the page cache, as it does for cp below.
        run(QStringLiteral("mv"), {moved, source});
    }
    state.SetBytesProcessed(state.iterations() * kLargeFile);
}

void MoveOneGiBThroughTick(benchmark::State& state) {
    moveOneGiBThroughTick(state, largeFileRun());
}
void MoveOneGiBAcrossFileSystemsThroughTick(benchmark::State& state) {
    moveOneGiBThroughTick(state, acrossFileSystemsRun());
}

// The copy alone, flushed but without deleting the source.
void BinCopyOneGiB(benchmark::State& state) {
    Run& r = largeFileRun();
    const QString copy = r.destination + QStringLiteral("big.bin");
    for (auto _ : state) {
        settle();
        QElapsedTimer timer;
        timer.start();
        const fs::CopyResult result =
            BinCopy(r.desktop, r.source + QStringLiteral("big.bin"), r.destination, true,
                    QStringLiteral("Neue Datei kopieren"));
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (!result.ok()) {
            state.SkipWithError("BinCopy failed");
            break;
        }
        fs::removeFile(copy);
    }
    state.SetBytesProcessed(state.iterations() * kLargeFile);
}

enum CpSteps { CpOnly, CpSync, CpSyncRm };

// cp, then optionally sync of the copy and rm of the source: the move that the tick performs.
void CopyOneGiBWithCp(benchmark::State& state, CpSteps steps, Run& r) {
    const QString source = r.source + QStringLiteral("big.bin");
    const QString copy = r.destination + QStringLiteral("big-cp.bin");
    for (auto _ : state) {
        settle();
        QElapsedTimer timer;
        timer.start();
        run(QStringLiteral("cp"), {source, copy});
        if (steps != CpOnly)
            run(QStringLiteral("sync"), {copy});
        if (steps == CpSyncRm)
            run(QStringLiteral("rm"), {source});
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (steps == CpSyncRm)
            run(QStringLiteral("mv"), {copy, source});
        else
            fs::removeFile(copy);
    }
    state.SetBytesProcessed(state.iterations() * kLargeFile);
}

void CopyOneGiBWithCpOnly(benchmark::State& state) {
    CopyOneGiBWithCp(state, CpOnly, largeFileRun());
}
void CopyOneGiBWithCpAndSync(benchmark::State& state) {
    CopyOneGiBWithCp(state, CpSync, largeFileRun());
}
void MoveOneGiBWithCpSyncAndRm(benchmark::State& state) {
    CopyOneGiBWithCp(state, CpSyncRm, largeFileRun());
}
void MoveOneGiBAcrossFileSystemsWithCpSyncAndRm(benchmark::State& state) {
    CopyOneGiBWithCp(state, CpSyncRm, acrossFileSystemsRun());
}

void TickOverTenThousandRegisteredFiles(benchmark::State& state) {
    for (auto _ : state) {
        Run r;
        QStringList keys;
        keys.reserve(kRegisterSize);
        const QDateTime created = QDateTime::currentDateTimeUtc();
        for (int i = 0; i < kRegisterSize - kFiles; ++i)
            keys.append(CopyKey(r.source + QStringLiteral("Film Nummer %1 (alt).avi").arg(i),
                                700'000'000 + i, created));
        for (int i = 0; i < kFiles; ++i) {
            const QString name = QStringLiteral("Film Nummer %1.avi").arg(i);
            const QString path = r.source + name;
            fs::append(path, QByteArray::number(i));
            // Its copy in the destination, without which a register hit deletes nothing.
            fs::append(r.destination + name, QByteArray::number(i));
            // Spread the real keys over the register, as years of copies would.
            keys.insert(qsizetype(i) * (kRegisterSize / kFiles),
                        CopyKey(path, FileLength(path), GetFileDate(path)));
        }
        r.data.CopiedFiles = CopyRegister(keys);
        ScanEngine engine(r.data, r.log, r.desktop);
        settle();

        QElapsedTimer timer;
        timer.start();
        runTick(engine);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (!ListFolderFiles(r.source)->isEmpty()) {
            state.SkipWithError("the tick left files behind");
            break;
        }
    }
}

}  // namespace

BENCHMARK(MoveOneGiBThroughTick)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(MoveOneGiBAcrossFileSystemsThroughTick)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(MoveOneGiBAcrossFileSystemsWithCpSyncAndRm)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CopyOneGiBWithCpOnly)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyOneGiBWithCpAndSync)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(MoveOneGiBWithCpSyncAndRm)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BinCopyOneGiB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(TickOverTenThousandRegisteredFiles)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
