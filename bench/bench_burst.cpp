// Bursts: 10,000 files of 10 KB that arrive at once leave the watched folder through the running
// engine, beside mv (same file system) and cp + sync + rm (across file systems) of the same files;
// the time from a file's arrival to its move with a 60 s scan interval; and how late a ping of the
// window's thread every 250 ms comes during a burst.
// KW_BENCH_DIR picks the file system of both folders (default /tmp); the cross-file-system cases
// put the destination on a tmpfs they mount (root) or in KW_BENCH_OTHER_DIR.
#include "bench/silentdesktop.h"
#include "bench/tick.h"
#include "core/eventlog.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "scan/engine.h"
#include "scan/listing.h"
#include "scan/register.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>

using namespace kw;
using kw::bench::runTick;
using kw::bench::SilentDesktop;

namespace {

constexpr int kBurstFiles = 10'000;
constexpr int kBurstFileSize = 10'000;
constexpr int kPingEveryMs = 250;

QString envFolder(const char* name, const QString& fallback) {
    const QByteArray folder = qgetenv(name);
    return folder.isEmpty() ? fallback : QString::fromLocal8Bit(folder);
}

void run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        std::abort();
}

void shell(const QString& command) {
    run(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}

// A destination on another file system than the watched folder: a tmpfs mounted for the run, or
// the folder the environment names.
class OtherFileSystem {
public:
    OtherFileSystem() : m_dir(QDir::tempPath() + QStringLiteral("/kw-bench-other-XXXXXX")) {
        m_path = envFolder("KW_BENCH_OTHER_DIR", QString());
        if (!m_path.isEmpty())
            return;
        m_path = m_dir.path();
        m_mounted =
            QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=512m"), QStringLiteral("tmpfs"), m_path}) == 0;
        if (!m_mounted)
            m_path.clear();
    }
    ~OtherFileSystem() {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_path});
    }
    const QString& path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    bool m_mounted = false;
};

// Watched, destination and data folder, and the run's state, as the program has them.
struct Run {
    explicit Run(const QString& destinationRoot = QString())
        : dir(envFolder("KW_BENCH_DIR", QStringLiteral("/tmp")) +
              QStringLiteral("/kw-bench-XXXXXX")) {
        const QString root = dir.path() + QLatin1Char('/');
        source = root + QStringLiteral("in/");
        destination = (destinationRoot.isEmpty() ? root : destinationRoot + QLatin1Char('/')) +
                      QStringLiteral("out-") + QFileInfo(dir.path()).fileName() + QLatin1Char('/');
        fs::makePath(source);
        fs::makePath(destination);
        fs::makePath(root + QStringLiteral("data/"));
        data.My = fileSetFor(root + QStringLiteral("data/"), QStringLiteral("Kopierwart"));
        data.My.Source = source;
        data.My.Destination = destination;
        data.My.SavedFileCount = 0;
        data.My.SavedMegabytes = 0;
        data.My.ScanInterval = 60;
        data.BlockedExtensions = QStringList();
        data.TaskList = QStringList();
        data.CopiedFiles = CopyRegister(QStringList());
        log.setLogFile(data.My.Log);
        // A log at its cap, as in a long run.
        fs::replaceAtomically(data.My.Log, QByteArray(kLogFileMaximum - 2, 'x') + "\r\n");
    }
    ~Run() {
        if (!destination.startsWith(dir.path()))
            QDir(destination).removeRecursively();
    }

    void makeBurst() const {
        const QByteArray bytes(kBurstFileSize, 'b');
        for (int i = 0; i < kBurstFiles; ++i)
            fs::append(source + QStringLiteral("Datei %1.bin").arg(i), bytes);
    }
    bool sourceEmpty() const {
        return ListFolderFiles(source).value_or(QStringList{"?"}).isEmpty();
    }

    QTemporaryDir dir;
    QString source;
    QString destination;
    AppData data;
    EventLog log;
    SilentDesktop desktop;
};

// Times move over a fresh burst in every round; move answers false when it left files behind.
void timeBurst(benchmark::State& state, bool acrossFileSystems,
               const std::function<bool(Run&)>& move) {
    for (auto _ : state) {
        OtherFileSystem other;
        if (acrossFileSystems && other.path().isEmpty()) {
            state.SkipWithError("no second file system (run as root or set KW_BENCH_OTHER_DIR)");
            break;
        }
        Run r(acrossFileSystems ? other.path() : QString());
        r.makeBurst();
        run(QStringLiteral("sync"), {});
        QElapsedTimer timer;
        timer.start();
        const bool moved = move(r);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (!moved) {
            state.SkipWithError("files were left behind");
            break;
        }
    }
}

// Ticks until the watched folder is empty, as the running program would.
bool moveThroughEngine(Run& r) {
    ScanEngine engine(r.data, r.log, r.desktop);
    for (int tick = 0; tick < 10 && !r.sourceEmpty(); ++tick)
        runTick(engine);
    return r.sourceEmpty() &&
           r.data.CopiedFiles.keys().value_or(QStringList()).size() == kBurstFiles;
}

QString quotedForShell(const QString& folder) {
    return QLatin1Char('\'') + folder + QLatin1Char('\'');
}

void BurstSameFileSystemThroughEngine(benchmark::State& state) {
    timeBurst(state, false, moveThroughEngine);
}
void BurstAcrossFileSystemsThroughEngine(benchmark::State& state) {
    timeBurst(state, true, moveThroughEngine);
}
void BurstSameFileSystemWithMv(benchmark::State& state) {
    timeBurst(state, false, [](Run& r) {
        shell(QStringLiteral("mv ") + quotedForShell(r.source) + QStringLiteral("* ") +
              quotedForShell(r.destination));
        return r.sourceEmpty();
    });
}
void BurstAcrossFileSystemsWithCpSyncRm(benchmark::State& state) {
    timeBurst(state, true, [](Run& r) {
        const QString in = quotedForShell(r.source);
        shell(QStringLiteral("cp -p ") + in + QStringLiteral("* ") + quotedForShell(r.destination) +
              QStringLiteral(" && sync && rm ") + in + QStringLiteral("*"));
        return r.sourceEmpty();
    });
}

// A file written and closed in the watched folder while the engine runs with a 60 s interval:
// the time until it has left the folder.
void ArrivalToMove(benchmark::State& state) {
    Run r;
    ScanEngine engine(r.data, r.log, r.desktop);
    runTick(engine);
    engine.Timer().start(r.data.My.ScanInterval * 1000);
    int round = 0;
    for (auto _ : state) {
        const QString path = r.source + QStringLiteral("neu %1.bin").arg(round++);
        QElapsedTimer timer;
        timer.start();
        fs::append(path, QByteArray(kBurstFileSize, 'n'));
        while (fs::facts(path) && timer.elapsed() < 70'000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (fs::facts(path)) {
            state.SkipWithError("the file did not move");
            break;
        }
    }
}

// The window's thread during a burst across file systems, pinged by a timer every 250 ms: how late
// the pings come (worst and mean, in milliseconds) while the file work runs beside it.
void WindowPingDuringBurst(benchmark::State& state) {
    for (auto _ : state) {
        OtherFileSystem other;
        if (other.path().isEmpty()) {
            state.SkipWithError("no second file system (run as root or set KW_BENCH_OTHER_DIR)");
            break;
        }
        Run r(other.path());
        r.makeBurst();
        QElapsedTimer sincePing;
        qint64 worst = 0;
        qint64 total = 0;
        int pings = 0;
        QTimer ping;
        ping.setTimerType(Qt::PreciseTimer);
        ping.setInterval(kPingEveryMs);
        QObject::connect(&ping, &QTimer::timeout, [&] {
            const qint64 late = std::max<qint64>(0, sincePing.restart() - kPingEveryMs);
            worst = std::max(worst, late);
            total += late;
            ++pings;
        });
        QElapsedTimer timer;
        timer.start();
        sincePing.start();
        ping.start();
        const bool moved = moveThroughEngine(r);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        state.counters["worst_late_ms"] = double(worst);
        state.counters["mean_late_ms"] = pings ? double(total) / pings : 0.0;
        if (!moved) {
            state.SkipWithError("files were left behind");
            break;
        }
    }
}

}  // namespace

BENCHMARK(BurstSameFileSystemThroughEngine)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BurstSameFileSystemWithMv)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BurstAcrossFileSystemsThroughEngine)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BurstAcrossFileSystemsWithCpSyncRm)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WindowPingDuringBurst)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(ArrivalToMove)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
