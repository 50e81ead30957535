#include "app/datafolder.h"
#include "app/installeddata.h"
#include "app/program.h"
#include "app/secondstart.h"
#include "core/settings.h"
#include "platform/instancelock.h"
#include "platform/qtboundary.h"
#include "platform/signals.h"
#include "platform/sound.h"
#include "ui/language.h"
#include "ui/tray.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdlib>

namespace {

constexpr int kSystemAsterisk = 12;

// The running program, for the end of a process that its event loop does not see.
kw::Program* g_running = nullptr;

void endRunningProgram() {
    if (g_running)
        g_running->endAbruptly();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // The program lives in the tray; a hidden main window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(kw::programIcon());
    // German as always on German desktops and under the C locale, English on all others.
    const kw::Language language;

    // Paths with their bytes: the data folder, the lock and the log must name the real files.
    const QString executablePath = kw::programFilePath();
    const kw::DataFolder dataFolder = kw::prepareDataFolder(
        executablePath, kw::environmentPath("XDG_CONFIG_HOME"), kw::homeFolder());

    const kw::InstanceLock lock(dataFolder.path + kw::executableBaseName(executablePath) +
                                QLatin1String(".lock"));
    const QString channel = kw::secondStartChannel(dataFolder.path);
    if (lock.state() == kw::InstanceLock::State::HeldByOther) {
        // The user started the program to see it: the running one shows its window. Whether it
        // answers or not, this start ends as it always has, touching no file.
        kw::askRunningProgramToShow(channel);
        kw::PlaySystemSound(kSystemAsterisk);
        kw::SleepMs(1000);
        return 0;
    }

    const QString shippedData = kw::installedDataFolder(executablePath);
    // A download folder whose name Qt cannot spell back falls back to the usual one at home.
    QString downloads =
        kw::pathFromQt(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    if (downloads.isEmpty())
        downloads = kw::homeFolder() + QLatin1String("/Downloads");
    kw::Program program(
        {executablePath, dataFolder.path, dataFolder.besideExecutable, downloads,
         shippedData.isEmpty() ? QString() : shippedData + QLatin1String("Copy.wav")});
    const kw::TerminationSignals terminationSignals(
        [&program](int) { program.Close(kw::vbAppTaskManager); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &program,
                     [&program] { program.Close(kw::vbAppWindows); });
    // The toolkit ends the process with exit() when the display's connection breaks, as when the
    // X server dies with the session: the deletions of the moment still get their log lines.
    g_running = &program;
    std::atexit(endRunningProgram);
    program.Form_Load();
    if (program.closing()) {
        g_running = nullptr;
        return 0;
    }
    kw::SecondStartListener secondStarts([&program] { program.showMainWindow(); });
    const QString notListening = secondStarts.listen(channel);
    if (!notListening.isEmpty())
        program.log().WriteLog(QLatin1String("A second start cannot show this window: ") +
                               notListening);
    const int result = app.exec();
    g_running = nullptr;
    // A thread hanging in a call into a file system cannot be joined, nor its objects destroyed
    // under it; the log and the settings are written by now.
    if (program.fileWorkLeftBehind())
        std::_Exit(result);
    return result;
}
