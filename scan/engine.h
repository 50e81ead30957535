#pragma once

#include "core/problems.h"
#include "platform/folderwatch.h"
#include "scan/bincopy.h"
#include "scan/failure.h"
#include "scan/filedecision.h"
#include "scan/folderguard.h"
#include "scan/mover.h"
#include "scan/record.h"
#include "scan/refusals.h"
#include "scan/stayingfiles.h"
#include "scan/waitingfiles.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <optional>

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// The watch-and-copy cycle's scheduler: the scan timer, ticks for files that arrive, scan-now,
// and one tick's order — folders checked, the watched folder listed and every file decided in a
// pass over the two held folders, then the task watchdog. The work on each file is done by the
// folder guard, the file decision, the mover and the record, which this owns.
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
    bool ValidateDirectories() { return m_guard.ValidateDirectories(); }
    // Removes what copies of an earlier, killed run left behind in every destination folder used
    // so far that is there now; only temporary copies of this installation.
    void RemoveAbandonedCopies() { m_guard.RemoveAbandonedCopies(); }
    // The user chose the destination folder: where it lies now is where it belongs.
    void DestinationChosen() { m_guard.DestinationChosen(); }
    // Shutdown: a copy in progress stops at its next yield and removes its temporary file, and
    // the interrupted tick ends without another step. The timer stops and later ticks do
    // nothing. The engine must outlive a tick that is running, so delete it only afterwards.
    void Abandon();

    QTimer& Timer() { return m_timer; }
    // A new interval from the user: the timer restarts and waits the full interval.
    void setInterval(int seconds);
    bool ScanBusy() const { return m_scanBusy; }

    // Destination paths of this run's copies, each at most once, in alphabetical order.
    QStringList& LBfiles() { return m_record.LBfiles(); }
    // The user forgets a copy; the file itself stays where it is.
    void removeFromLBfiles(const QString& destinationPath) {
        m_record.LBfiles().removeOne(destinationPath);
    }

Q_SIGNALS:
    // A folder setting was cleared: the main window shows its prompt again (SetText).
    void foldersCleared();
    void statisticsChanged(const QString& caption);
    // destinationPath now stands at row of LBfiles.
    void copiedFileAdded(int row, const QString& destinationPath);
    // The destination's file system has gone (waiting) or is back; mountPoint is where it was.
    void destinationWaiting(bool waiting, const QString& mountPoint);
    // The problems that keep files from moving, whole, whenever the set changes.
    void problemsChanged(const kw::Problems& problems);

private:
    void runTick();
    Step filePass(Pass& pass);
    Step decideFiles(Pass& pass);
    // Lets pending events run; false when the engine was abandoned meanwhile.
    bool yieldToEvents();
    // A long pass lets the window react every few milliseconds, also between renames that need
    // no copy and so no chunk to yield after.
    bool yieldNowAndThen();
    // A file arrived in the watched folder: a tick runs shortly, whatever the interval.
    void fileArrived();
    void runArrivalTick();
    // What a burst of moves shares: the folder flushes of its renames and the statistics in the
    // settings file, done at most once a second during the burst and at the end of every tick.
    void finishBatch(bool evenIfRecent);
    Step fail(int code, const QString& description);
    void reportProblems();

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    FolderGuard m_guard;
    WaitingFiles m_waiting;
    Refusals m_refusals;
    Record m_record;
    Mover m_mover;
    FileDecision m_decision;
    StayingFiles m_staying;
    QTimer m_timer;
    FolderWatch m_arrivals;
    QTimer m_arrivalDelay;
    bool m_arrivalTickWanted = false;
    QElapsedTimer m_sinceYield;
    QElapsedTimer m_sinceBatchFinished;
    bool m_scanBusy = false;
    bool m_abandoned = false;
    std::optional<Failure> m_failure;  // ends the running tick
    QStringList m_LBtask;
    Problems m_problems;
};

}  // namespace kw
