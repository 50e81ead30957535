#include "app/datafolder.h"
#include "app/installeddata.h"
#include "app/program.h"
#include "core/settings.h"
#include "platform/instancelock.h"
#include "platform/signals.h"
#include "platform/sound.h"
#include "ui/tray.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStandardPaths>
#include <QTranslator>

namespace {

constexpr int kSystemAsterisk = 12;

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // The program lives in the tray; a hidden main window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(kw::programIcon());
    // The program speaks German, so Qt's own dialogs and buttons do too.
    QTranslator qtTranslations;
    if (qtTranslations.load(QStringLiteral("qtbase_de"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);

    const QString executablePath = QCoreApplication::applicationFilePath();
    const kw::DataFolder dataFolder = kw::prepareDataFolder(
        executablePath, qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());

    const kw::InstanceLock lock(dataFolder.path + kw::executableBaseName(executablePath) +
                                QLatin1String(".lock"));
    if (lock.state() == kw::InstanceLock::State::HeldByOther) {
        kw::PlaySystemSound(kSystemAsterisk);
        kw::SleepMs(1000);
        return 0;
    }

    const QString shippedData = kw::installedDataFolder(executablePath);
    kw::Program program(
        {executablePath, dataFolder.path, dataFolder.besideExecutable,
         QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
         shippedData.isEmpty() ? QString() : shippedData + QLatin1String("Copy.wav")});
    const kw::TerminationSignals terminationSignals(
        [&program](int) { program.Close(kw::vbAppTaskManager); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &program,
                     [&program] { program.Close(kw::vbAppWindows); });
    program.Form_Load();
    if (program.closing())
        return 0;
    return app.exec();
}
