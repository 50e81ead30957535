// Start-up of the program over a data folder whose copied-files register holds 100,000 lines,
// on the offscreen platform: settings, lists, folder checks, the window and the first scan.

#include "app/program.h"
#include "core/desktop.h"
#include "core/inifile.h"
#include "platform/fs.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

namespace {

// Answers every message with OK and shows nothing.
class QuietDesktop : public kw::Desktop {
public:
    int ShowMessage(const QString&, const QString&, int) override { return kw::IDOK; }
    bool PlaySoundFile(int, const QString&) override { return true; }
    void ShellOpen(const QString&, const QString&) override {}
    void OpenDocument(const QString&) override {}
    void OpenTextFile(const QString&) override {}
    std::unique_ptr<kw::CopyProgress> CreateProgressWindow() override { return nullptr; }
};

void StartupWithLargeRegister(benchmark::State& state) {
    QTemporaryDir dir;
    const QString data = dir.path() + QLatin1String("/");
    const QString ini = data + QLatin1String("Kopierwart.ini");
    kw::fs::makePath(data + QLatin1String("watched"));
    kw::fs::makePath(data + QLatin1String("moved"));
    kw::WriteIniValue(ini, QStringLiteral("Source"), QStringLiteral("Source"),
                      data + QLatin1String("watched/"));
    kw::WriteIniValue(ini, QStringLiteral("Destination"), QStringLiteral("Destination"),
                      data + QLatin1String("moved/"));
    QByteArray lines;
    for (int i = 0; i < state.range(0); ++i) {
        lines += "/home/user/share/incoming/Some rather long file name number " +
                 QByteArray::number(i) + ".avi";
        lines += '\0';
        lines += QByteArray::number(700000000 + i) + '\0' + "06.12.2026 14:03:05\r\n";
    }
    kw::fs::replaceAtomically(data + QLatin1String("Kopierwart.Copy"), lines);

    QuietDesktop desktop;
    for (auto _ : state) {
        kw::Program program({data + QLatin1String("Kopierwart"), data, true, data, QString()},
                            &desktop, [] {});
        program.Form_Load();
        benchmark::DoNotOptimize(program.data().CopiedFiles);
    }
}
BENCHMARK(StartupWithLargeRegister)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
