#include "app/program.h"

#include "app/installeddata.h"
#include "app/passdesktop.h"
#include "core/files.h"
#include "core/settingsstore.h"
#include "p2p/detector.h"
#include "platform/fs.h"
#include "platform/notifications.h"
#include "platform/placement.h"
#include "scan/engine.h"
#include "scan/register.h"
#include "ui/mainwindow.h"
#include "ui/problemnotifier.h"
#include "ui/tray.h"
#include "ui/widgetdesktop.h"

#include <QApplication>
#include <QPointer>
#include <QVariantAnimation>

namespace kw {
namespace {

constexpr qint32 kFirstStartColor = 0x00C00000;
constexpr int kDefaultScanInterval = 5;
constexpr int kFadeMilliseconds = 500;

}  // namespace

QString UnloadModeName(int mode) {
    static const char* const names[] = {"vbFormControlMenu", "vbFormCode",    "vbAppWindows",
                                        "vbAppTaskManager",  "vbFormMDIForm", "vbFormOwner"};
    return mode >= 0 && mode < 6 ? QLatin1String(names[mode]) : QString();
}

Program::Program(StartOptions options, Desktop* desktop, std::function<void()> endProcess)
    : m_options(std::move(options)),
      m_ownDesktop(desktop ? nullptr : std::make_unique<WidgetDesktop>()),
      m_desktop(desktop ? *desktop : *m_ownDesktop),
      m_passDesktop(std::make_unique<PassDesktop>(m_desktop)),
      m_engine(std::make_unique<ScanEngine>(m_data, m_log, m_desktop, m_passDesktop.get())),
      m_window(std::make_unique<FrmMain>(m_data, m_log, m_desktop, *m_engine)),
      m_tray(std::make_unique<Tray>(*m_window, QLatin1String(kProgramTitle))),
      m_notifications(CreateSessionNotifications()),
      m_problems(std::make_unique<ProblemNotifier>(*m_notifications, m_log)),
      m_endProcess(endProcess ? std::move(endProcess) : [] { QCoreApplication::exit(0); }) {
    m_passDesktop->onWaitingForUser(
        [engine = m_engine.get()](bool waiting) { engine->fileWorkWaitsForUser(waiting); });
    if (m_ownDesktop)
        m_ownDesktop->setOwner(m_window.get());
    m_log.setDebugWindow(m_window.get());
    m_window->setWindowIcon(programIcon());
    m_windowSearch = CreateWindowSearch([this](const QString& line) { m_log.WriteLog(line); });
    m_detector = std::make_unique<P2PDetector>(m_data, *m_windowSearch);
    m_window->attachP2P(*m_detector, *m_windowSearch);
    m_timerCheckP2P.setInterval(1000);
    connect(&m_timerCheckP2P, &QTimer::timeout, m_detector.get(), &P2PDetector::Timer_CheckP2P);
    connect(m_window.get(), &FrmMain::closeRequested, this, [this] { Close(vbFormControlMenu); });
    connect(m_tray.get(), &Tray::mnuSClose_Click, this, [this] { Close(vbFormCode); });
    connect(m_engine.get(), &ScanEngine::problemsChanged, m_problems.get(),
            [this](const Problems& problems) {
                m_problems->setProblems(QStringLiteral("scan"), problems);
            });
    connect(m_problems.get(), &ProblemNotifier::problemsChanged, m_tray.get(), &Tray::setProblems);
    connect(m_engine.get(), &ScanEngine::statisticsChanged, m_tray.get(), &Tray::setStatistics);
    connect(m_detector.get(), &P2PDetector::LBp2pChanged, m_tray.get(), &Tray::setP2PPrograms);
}

Program::~Program() {
    // The log outlives the window; lines written while tearing down reach the file only.
    m_log.setDebugWindow(nullptr);
}

void Program::Form_Load() {
    Settings& my = m_data.My;
    const QString baseName = executableBaseName(m_options.executablePath);
    const QString title = QLatin1String(kProgramTitle);
    const QString version = programVersion();
    m_window->setWindowTitle(title + QLatin1Char(' ') + version);

    // The file set names every path; the settings themselves are read below.
    ForgetUnreadableDataFiles();
    my = fileSetFor(m_options.dataFolder, baseName);
    my.ProgramTitle = title;
    my.ProgramVersion = version;
    m_log.setLogFile(my.Log);
    m_log.WriteLog(m_options.executablePath);
    m_log.WriteLog(QLatin1String("*** ") + title + QLatin1Char(' ') + version +
                   QLatin1String(" started ***"));
    m_log.WriteLog(QLatin1String("Data folder ") + my.Path +
                   (m_options.dataFolderBesideExecutable
                        ? QLatin1String(" (the executable's folder)")
                        : QLatin1String(" (the user's configuration folder)")));
    m_log.WriteLog(QString());
    m_log.WriteLog(QStringLiteral("Reading Config..."));

    // Only a missing settings file makes a first start: one that exists but cannot be read is
    // never replaced by first-start settings.
    QString storedInterval;
    int iniError = 0;
    const bool iniRead = fs::readAll(my.INI, &iniError).has_value();
    if (!iniRead && fs::problemOf(iniError) != fs::Problem::Missing)
        NoteUnreadableDataFile(my.INI, iniError);
    if (!iniRead) {
        takeFirstStartSettings();
    } else {
        SettingsStore settings(my);
        storedInterval = settings.storedScanInterval();
        settings.load();
    }
    const QString statistics = StatisticsCaption(my.SavedFileCount, my.SavedMegabytes);
    m_window->setStatisticsCaption(statistics);
    m_tray->setStatistics(statistics);
    m_window->setSoundFileText(my.SoundFile);

    // An interval outside 1..60 would leave a program that never scans: start with the default.
    if (my.ScanInterval < 1 || my.ScanInterval > 60) {
        m_log.WriteLog(QLatin1String("Invalid Intervall '") + storedInterval +
                       QLatin1String("', using ") + QString::number(kDefaultScanInterval) +
                       QLatin1String("s"));
        SettingsStore(my).assumeScanInterval(kDefaultScanInterval);
    }
    m_window->applyInterval(my.ScanInterval);

    m_data.BlockedExtensions = LoadListFile(my.BlockedExtensionsFile);
    m_data.TaskList = LoadListFile(my.TaskListFile);
    m_data.CopiedFiles = LoadListFile(my.CopyListFile);
    m_data.UserP2PList = LoadListFile(my.UserP2PListFile);
    m_data.Pairs = LoadFolderPairs(my.PairListFile);
    reportUnreadableFiles();
    if (m_closing)
        return;

    m_log.WriteLog(QLatin1String("Set My.Path = ") + my.Path);
    m_log.WriteLog(QLatin1String("Set My.INI = ") + my.INI);
    m_log.WriteLog(QLatin1String("Set My.Log = ") + my.Log);
    m_log.WriteLog(QLatin1String("Set My.Source = ") + my.Source);
    m_log.WriteLog(QLatin1String("Set My.Destination = ") + my.Destination);
    for (const FolderPair& pair : std::as_const(m_data.Pairs))
        m_log.WriteLog(QLatin1String("Set Pair = ") + pair.Source + QLatin1String(" -> ") +
                       pair.Destination);
    m_log.WriteLog(QLatin1String("Set My.SoundFile = ") + my.SoundFile);

    // The folders are looked at in the file work's thread, as one that does not answer must not
    // hold up the program. Its messages are questions the window asks while its events go on; a
    // close request answers them.
    m_engine->ValidateDirectories([this](bool valid) { continueStart(valid); });
}

void Program::continueStart(bool foldersValid) {
    if (m_closing)
        return;
    m_log.WriteLog(foldersValid ? QStringLiteral("Found valid Source- & Copy-Directory")
                                : QStringLiteral("Please set Source- & Copy-Directory"));
    showWindow();
    // A destination used before may lie on a file system that does not answer: the window and
    // the tray are there meanwhile, and the first scan waits behind the sweep in the file work.
    m_engine->RemoveAbandonedCopies([this] { scanFirst(); });
}

void Program::showWindow() {
    m_log.WriteLog(QStringLiteral("Initalizing Mainform"));
    m_window->applyColorScheme();
    m_window->SetText();
    m_window->makeHyperlinks();

    m_trayAvailable = Tray::available();
    m_window->setHideWhenMinimized(m_trayAvailable);
    m_tray->AddTrayIcon();
    PlaceForm(m_window.get());
    m_window->show();
}

void Program::scanFirst() {
    if (m_closing)
        return;
    m_log.WriteLog(QStringLiteral("Start Scanning..."));
    connect(m_engine.get(), &ScanEngine::tickFinished, this, &Program::finishStart,
            Qt::SingleShotConnection);
    m_engine->Timer_Timer();
}

void Program::finishStart() {
    // The window's events ran during the first scan; a shutdown may have come among them.
    if (m_closing)
        return;
    m_log.WriteLog(QStringLiteral("Scanning complete !"));

    m_log.WriteLog(QStringLiteral("Starting P2Pfinder....."));
    m_detector->Timer_CheckP2P();
    m_timerCheckP2P.start();
    m_engine->Timer().start();

    // Without a notification area the window is the only way to reach the program.
    if (m_trayAvailable)
        m_window->showMinimized();
    m_started = true;
    if (m_showWhenStarted)
        showMainWindow();
}

void Program::showMainWindow() {
    if (m_closing)
        return;
    // The start-up ends by putting the window into the tray; a wish to see it comes after that.
    if (!m_started) {
        m_showWhenStarted = true;
        return;
    }
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

bool Program::fileWorkLeftBehind() const {
    return m_engine->fileWorkLeftBehind();
}

void Program::endAbruptly() {
    if (m_closing)
        return;
    m_closing = true;
    // The windows may be beyond reach: the lines go to the file alone.
    m_log.setDebugWindow(nullptr);
    m_passDesktop->close();
    m_engine->AbandonAtExit();
    m_log.WriteLog(
        QStringLiteral("The program ends without its shutdown (the connection to the display "
                       "broke, or a library ended the process)"));
    m_log.flush();
}

QStringList Program::unreadableFiles() const {
    return UnreadableDataFiles();
}

void Program::reportUnreadableFiles() {
    const QStringList files = UnreadableDataFiles();
    if (files.isEmpty())
        return;
    QString listed;
    Problems problems;
    for (const QString& path : files) {
        problems.append({ProblemKind::SettingsUnreadable, path});
        const int error = UnreadableDataFileError(path);
        m_log.WriteLog(QLatin1String("Cannot read '") + path + QLatin1String("': ") +
                       fs::errorText(error) +
                       QLatin1String(" - running without it, and it is not written in this run"));
        const QString reason =
            fs::problemOf(error) == fs::Problem::NoPermission
                ? QCoreApplication::translate("kw::Program", "keine Leseberechtigung")
                : fs::errorText(error);
        listed += path + QLatin1String(" (") + reason + QLatin1Char(')') + QLatin1String(kCrLf);
    }
    // Told on the desktop too, as long as the run goes on without them.
    m_problems->setProblems(QStringLiteral("start"), problems);
    const bool one = files.size() == 1;
    // Shown while the start-up goes on: nothing here depends on the answer.
    m_desktop.AskMessage(
        tr("Fehler"),
        (one ? tr("Diese Datei ist vorhanden, kann aber nicht gelesen werden:")
             : tr("Diese Dateien sind vorhanden, können aber nicht gelesen werden:")) +
            QLatin1String(kCrLf) + QLatin1String(kCrLf) + listed + QLatin1String(kCrLf) +
            (one ? tr("Kopierwart arbeitet ohne ihren Inhalt weiter und schreibt in "
                      "diesem Lauf nichts in diese Datei.")
                 : tr("Kopierwart arbeitet ohne ihren Inhalt weiter und schreibt in "
                      "diesem Lauf nichts in diese Dateien.")),
        MB_ICONERROR, [](int) {});
}

void Program::takeFirstStartSettings() {
    Settings& my = m_data.My;
    SettingsStore settings(my);
    settings.setControlColor(kFirstStartColor);
    settings.setSoundFile(my.Path + QLatin1String("Copy.wav"));
    settings.setDestination(AddBackslash(m_options.downloadFolder));
    settings.resetStatistics();
    // The interval is not written: the scroll bar writes it when start-up applies it.
    settings.assumeScanInterval(kDefaultScanInterval);
    if (UnreadableDataFileError(my.INI) == 0)
        provideFirstStartSound();
}

void Program::provideFirstStartSound() {
    const QString& target = m_data.My.SoundFile;
    if (m_options.shippedSound.isEmpty() || m_options.shippedSound == target)
        return;
    QString failure;
    const SoundProvided result = provideSound(m_options.shippedSound, target, &failure);
    if (result == SoundProvided::Copied)
        m_log.WriteLog(QLatin1String("Copied the sound ") + m_options.shippedSound +
                       QLatin1String(" to ") + target);
    else if (result == SoundProvided::Failed)
        m_log.WriteLog(QLatin1String("Could not copy the sound ") + m_options.shippedSound +
                       QLatin1String(" to ") + target + QLatin1String(": ") + failure);
}

void Program::Close(int mode) {
    if (m_closing)
        return;
    m_closing = true;
    Form_QueryUnload(mode);
    Form_Unload();
}

void Program::Form_QueryUnload(int mode) {
    m_log.WriteLog(QLatin1String("Form_QueryUnload(UnloadMode = ") + UnloadModeName(mode) +
                   QLatin1String(" (") + QString::number(mode) + QLatin1Char(')'));
}

void Program::Form_Unload() {
    m_tray->RemoveTrayIcon();
    m_log.WriteLog(QStringLiteral("Closing Timer..."));
    m_engine->Timer().stop();
    m_timerCheckP2P.stop();
    m_window->Blink().stop();
    // A copy in progress stops and removes its temporary file, so no partial file remains; the
    // file work asks the user nothing more.
    m_passDesktop->close();
    m_engine->Abandon();
    closeOtherWindows();
    m_log.WriteLog(QLatin1String("*** Closing ") + m_data.My.ProgramTitle + QLatin1String(" ***"));
    for (int i = 0; i < 3; ++i)
        m_log.WriteLog(QString());
    m_log.flush();
    fadeOutThenEnd();
}

void Program::closeOtherWindows() {
    // A window that deletes itself when closed takes its own pop-up menus with it.
    QList<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        windows.append(window);
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        QWidget* window = *it;
        if (!window)
            continue;
        const Qt::WindowType type = window->windowType();
        if (window == m_window.get() || !window->isVisible() ||
            (type != Qt::Window && type != Qt::Dialog))
            continue;
        const QString name = window->objectName().isEmpty()
                                 ? QLatin1String(window->metaObject()->className())
                                 : window->objectName();
        m_log.WriteLog(QLatin1String("Unloading ") + name);
        window->close();
        QCoreApplication::processEvents();
    }
}

void Program::fadeOutThenEnd() {
    if (!m_window->isVisible()) {
        m_endProcess();
        return;
    }
    // The event loop keeps running while the window fades; the process ends when it has.
    auto* fade = new QVariantAnimation(this);
    fade->setDuration(kFadeMilliseconds);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    connect(fade, &QVariantAnimation::valueChanged, m_window.get(),
            [this](const QVariant& opacity) { m_window->setWindowOpacity(opacity.toDouble()); });
    connect(fade, &QVariantAnimation::finished, this, [this] {
        m_window->hide();
        m_endProcess();
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

}  // namespace kw
