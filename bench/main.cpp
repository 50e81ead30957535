#include <benchmark/benchmark.h>

#include <QCoreApplication>

// The main() of every benchmark that needs no more than an event loop: the cycle yields to it.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
