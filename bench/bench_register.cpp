// Loading a 100,000-line register and looking up 1,000 keys in it: the linear search over the
// array beside the index the cycle uses. Both must give the same answers.
#include "core/copyregister.h"
#include "core/files.h"
#include "scan/register.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdlib>

using namespace kw;

namespace {

constexpr int kRegisterSize = 100'000;
constexpr int kLookups = 1'000;

const QDateTime kCreated(QDate(2026, 12, 6), QTime(14, 3, 5), Qt::UTC);

QString keyOf(int i) {
    return CopyKey(QStringLiteral("/home/user/Uploads/Incoming/Film Nummer %1.avi").arg(i),
                   700'000'000 + i, kCreated);
}

struct Fixture {
    Fixture() {
        file = dir.path() + QStringLiteral("/Kopierwart.Copy");
        for (int i = 0; i < kRegisterSize; ++i)
            AppendToFile(file, keyOf(i));
        // Every other lookup hits, every other one misses (a quarter in another letter case).
        for (int i = 0; i < kLookups; ++i) {
            lookups.append(i % 2 == 0   ? keyOf(i * 97)
                           : i % 4 == 1 ? keyOf(i * 97).toUpper()
                                        : keyOf(kRegisterSize + i));
        }
    }
    QTemporaryDir dir;
    QString file;
    QStringList lookups;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void LoadRegister(benchmark::State& state) {
    for (auto _ : state) {
        TextArray keys = LoadListFile(fixture().file);
        benchmark::DoNotOptimize(keys);
        if (ArrayUpperBound(keys) != kRegisterSize - 1)
            std::abort();
    }
}

void LinearLookups(benchmark::State& state) {
    const TextArray keys = LoadListFile(fixture().file);
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const QString& key : fixture().lookups)
            hits += FindInArray(keys, key, -1, -1, true) >= 0;
    }
    state.counters["hits"] = hits;
}

void BuildIndex(benchmark::State& state) {
    const TextArray keys = LoadListFile(fixture().file);
    for (auto _ : state) {
        CopyRegister index(keys);
        benchmark::DoNotOptimize(index);
    }
}

void IndexedLookups(benchmark::State& state) {
    const TextArray keys = LoadListFile(fixture().file);
    const CopyRegister index(keys);
    int hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (const QString& key : fixture().lookups)
            hits += index.contains(key);
    }
    state.counters["hits"] = hits;
    // The index must answer exactly as the linear search.
    for (const QString& key : fixture().lookups) {
        if (index.contains(key) != (FindInArray(keys, key, -1, -1, true) >= 0))
            std::abort();
    }
}

}  // namespace

BENCHMARK(LoadRegister)->Unit(benchmark::kMillisecond);
BENCHMARK(LinearLookups)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BuildIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexedLookups)->Unit(benchmark::kMillisecond);
