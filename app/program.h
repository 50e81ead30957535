#pragma once

#include "core/eventlog.h"
#include "core/settings.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

namespace kw {

class Desktop;
class FrmMain;
class Notifications;
class PassDesktop;
class P2PDetector;
class ProblemNotifier;
class ScanEngine;
class Tray;
class WidgetDesktop;
class WindowSearch;

// Why the main window unloads; the numbers and names are those the log has always shown.
enum UnloadMode {
    vbFormControlMenu = 0,  // the window's close button
    vbFormCode = 1,         // the program itself, e.g. the tray menu's "Beenden"
    vbAppWindows = 2,       // the desktop session ends
    vbAppTaskManager = 3,   // a termination signal
    vbFormMDIForm = 4,
    vbFormOwner = 5,
};
// The mode's name; the empty text for numbers outside the table.
QString UnloadModeName(int mode);

struct StartOptions {
    QString executablePath;
    QString dataFolder;  // My.Path, ends with "/"
    bool dataFolderBesideExecutable = true;
    QString downloadFolder;  // the first start's destination
    QString shippedSound;    // the installed copy sound, which a first start copies; may be empty
};

// One run of the program: its data, log, main window, scan engine and tray, the start-up
// sequence and the shutdown sequence.
class Program : public QObject {
    Q_OBJECT

public:
    // desktop: null for the real desktop over the main window. endProcess ends the run after
    // shutdown; by default the application's event loops end.
    explicit Program(StartOptions options, Desktop* desktop = nullptr,
                     std::function<void()> endProcess = {});
    ~Program() override;

    // The start-up sequence; leaves the window in the tray (or shown when there is no tray). It
    // ends once the first scan has, while the window's events go on.
    void Form_Load();

    // Brings the main window out of the tray: shown, raised and active; during the start-up, once
    // it has ended. Not while closing.
    void showMainWindow();

    // The shutdown sequence for the given cause; runs once, later requests are ignored.
    void Close(int mode);
    bool closing() const { return m_closing; }
    // The file work hung in a call into a file system at shutdown: the process is to end without
    // waiting for it.
    bool fileWorkLeftBehind() const;
    // The process ends from under the event loop (the display's connection broke, and the
    // toolkit ends the process from its own handler): no more deletions, and every line the log
    // holds written to its file. Uses no events and no windows.
    void endAbruptly();

    AppData& data() { return m_data; }
    EventLog& log() { return m_log; }
    FrmMain& window() { return *m_window; }
    ScanEngine& engine() { return *m_engine; }
    Tray& tray() { return *m_tray; }
    P2PDetector& detector() { return *m_detector; }
    ProblemNotifier& problems() { return *m_problems; }
    QTimer& Timer_CheckP2P() { return m_timerCheckP2P; }
    // The start-up sequence has run to its end.
    bool started() const { return m_started; }
    // The data files (settings, lists, register) that exist but could not be read in this run;
    // none of them is written until the next start.
    QStringList unreadableFiles() const;

private:
    // The first start's settings; stored unless the settings file exists but cannot be read,
    // when they hold for this run only.
    void takeFirstStartSettings();
    // Logs each unreadable data file and tells the user in one message.
    void reportUnreadableFiles();
    // The first start's sound setting names a file in the data folder: put the shipped one there.
    void provideFirstStartSound();
    // The start-up sequence once the folders are checked, once abandoned copies are gone, and
    // after the first scan.
    void continueStart(bool foldersValid);
    void showWindow();
    void scanFirst();
    void finishStart();
    void Form_QueryUnload(int mode);
    void Form_Unload();
    void closeOtherWindows();
    // Fades the visible main window out, then ends the process.
    void fadeOutThenEnd();

    StartOptions m_options;
    AppData m_data;
    EventLog m_log;
    std::unique_ptr<WidgetDesktop> m_ownDesktop;
    Desktop& m_desktop;
    std::unique_ptr<PassDesktop> m_passDesktop;
    std::unique_ptr<ScanEngine> m_engine;
    std::unique_ptr<FrmMain> m_window;
    std::unique_ptr<Tray> m_tray;
    std::unique_ptr<Notifications> m_notifications;
    std::unique_ptr<ProblemNotifier> m_problems;
    std::unique_ptr<WindowSearch> m_windowSearch;
    std::unique_ptr<P2PDetector> m_detector;
    QTimer m_timerCheckP2P;
    std::function<void()> m_endProcess;
    bool m_closing = false;
    bool m_trayAvailable = false;
    bool m_started = false;
    bool m_showWhenStarted = false;
};

}  // namespace kw
