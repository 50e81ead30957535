// One log line written to a log file that stands at its 50,000-character cap: the whole file is
// read, extended, cut and replaced for every line.
#include "core/eventlog.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

using namespace kw;

namespace {

void LogLineAtCap(benchmark::State& state, const char* folder) {
    QTemporaryDir dir(QString::fromLatin1(folder) + QStringLiteral("/kw-bench-XXXXXX"));
    const QString log = dir.path() + QStringLiteral("/Kopierwart.Log");
    const QString line = QStringLiteral(
        "Trying to Delete '/home/user/Uploads/Incoming/Film Nummer 12345.avi' .....Success");
    for (int i = 0; i < 700; ++i)
        AppendLogFile(log, line, kLogFileMaximum);
    for (auto _ : state)
        AppendLogFile(log, line, kLogFileMaximum);
}

}  // namespace

BENCHMARK_CAPTURE(LogLineAtCap, tmp, "/tmp")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LogLineAtCap, shm, "/dev/shm")->Unit(benchmark::kMicrosecond);
