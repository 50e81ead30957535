#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// The watch-and-copy cycle: the scan timer, one tick over the watched folder, scan-now, folder
// validation and the lists of this run. The main window shows LBfiles and the statistics.
class ScanEngine : public QObject {
    Q_OBJECT

public:
    ScanEngine(AppData& data, EventLog& log, Desktop& desktop, QObject* parent = nullptr);
    ~ScanEngine() override;

    // One tick: folders checked, watched folder listed, every file decided, then the watchdog.
    void Timer_Timer();
    // The scan-now button: timer stopped, one tick, timer restarted for a full interval.
    void butGoTimer_Click();
    // Checks, creates or clears My.Source and My.Destination; true when both are usable.
    bool ValidateDirectories();
    // Removes what copies of an earlier, killed run left behind in the destination folder.
    void RemoveAbandonedCopies();
    // Shutdown: a copy in progress stops at its next yield and removes its temporary file, and
    // the interrupted tick ends without another step.
    void Abandon();

    QTimer& Timer() { return m_timer; }
    bool ScanBusy() const { return m_scanBusy; }

    const QStringList& LBf() const { return m_LBf; }
    const QStringList& LBtask() const { return m_LBtask; }
    // Destination paths of this run's copies, each at most once, in alphabetical order.
    QStringList& LBfiles() { return m_LBfiles; }

Q_SIGNALS:
    // A folder setting was cleared: the main window shows its prompt again (SetText).
    void foldersCleared();
    void statisticsChanged(const QString& caption);
    void copiedFilesChanged();

private:
    // ... (the engine's own state and steps)
    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    QTimer m_timer;
    bool m_scanBusy = false;
    QStringList m_LBf;
    QStringList m_LBtask;
    QStringList m_LBfiles;
};

}  // namespace kw
