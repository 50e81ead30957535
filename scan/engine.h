#pragma once

#include "core/problems.h"
#include "scan/passworker.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>

class QThread;

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// The watch-and-copy cycle's scheduler, on the window's thread: the scan timer, ticks for files
// that arrive, scan-now, and one tick's order — the file work (folders checked, the watched
// folder listed, every file decided) on the pass thread, then on this thread the task watchdog,
// the statistics and the problems. This thread never waits for the file work, except a moment at
// shutdown. It notices when the file work hangs in a call into a file system (not when it waits
// for the user) and tells the window, which stays live, and at shutdown leaves such a call behind.
class ScanEngine : public QObject {
    Q_OBJECT

public:
    // passDesktop: the desktop as the pass thread may call it, by default desktop itself, which
    // must then bear calls from that thread.
    ScanEngine(AppData& data, EventLog& log, Desktop& desktop, Desktop* passDesktop = nullptr,
               QObject* parent = nullptr);
    ~ScanEngine() override;

    // Starts one tick unless one runs: the file work on the pass thread, then the task watchdog.
    // tickFinished tells when it has ended.
    void Timer_Timer();
    // The scan-now button: timer stopped, one tick, timer restarted for a full interval.
    void butGoTimer_Click();
    // Checks, creates or clears My.Source and My.Destination in the file work's thread, after a
    // tick that runs; then checked on this thread, with true when both folders are usable.
    void ValidateDirectories(std::function<void(bool valid)> checked);
    // Removes, in the file work's thread, what copies of an earlier, killed run left behind in
    // every destination folder used so far that is there now (only temporary copies of this
    // installation); then done on this thread.
    void RemoveAbandonedCopies(std::function<void()> done);
    // The user chose the destination folder: where it lies now is where it belongs.
    void DestinationChosen();
    // Shutdown, from any thread: a copy in progress stops at its next step and removes its
    // temporary file, and the tick ends without another step; the timer stops and later ticks
    // do nothing. On this thread it waits a moment for the file work to end; one that hangs in a
    // call is left behind (fileWorkLeftBehind).
    void Abandon();
    // The file work hung in a call at shutdown: the process must end without waiting for it.
    bool fileWorkLeftBehind() const { return m_leftBehind; }
    // The process ends without a shutdown (its X connection broke): the file work stops at its
    // next step, which is waited for a moment, so that no deletion comes after the log's last
    // lines. Uses no events.
    void AbandonAtExit();
    // From the file work's thread: it begins (true) or ends (false) to wait for the user's answer
    // to a message. That time is no hang in a file system.
    void fileWorkWaitsForUser(bool waiting);

    QTimer& Timer() { return m_timer; }
    // A new interval from the user: the timer restarts and waits the full interval.
    void setInterval(int seconds);
    bool ScanBusy() const { return m_scanBusy; }

    // Destination paths of this run's copies, each at most once, in alphabetical order.
    QStringList& LBfiles() { return m_LBfiles; }
    // The user forgets a copy; the file itself stays where it is.
    void removeFromLBfiles(const QString& destinationPath) { m_LBfiles.removeOne(destinationPath); }

Q_SIGNALS:
    // A folder setting was cleared: the main window shows its prompt again (SetText).
    void foldersCleared();
    void statisticsChanged(const QString& caption);
    // destinationPath now stands at row of LBfiles.
    void copiedFileAdded(int row, const QString& destinationPath);
    // The destination's file system has gone (waiting) or is back; mountPoint is where it was.
    void destinationWaiting(bool waiting, const QString& mountPoint);
    // The file work hangs in a call for seconds (false), or goes on again (true).
    void fileSystemAnswering(bool answering);
    // The problems that keep files from moving, whole, whenever the set changes.
    void problemsChanged(const kw::Problems& problems);
    void tickFinished();

private:
    TickSettings currentSettings() const;
    // Runs work in the file work's thread with the settings of now, then, once the lines it
    // wrote are in the log, then on this thread.
    void handToFileWork(std::function<void()> work, std::function<void()> then);
    // Waits on this thread, up to the shutdown's wait, for the jobs handed to the file work to end.
    bool fileWorkEnded();
    void finishTick(const TickOutcome& outcome);
    // What the scan-now button does once its tick has ended.
    void finishScanNow();
    // A folder the file work gave up is cleared here too, unless the user chose another
    // meanwhile.
    void applyFoldersGivenUp(const FoldersGivenUp& givenUp, const Settings& tickBegan);
    // A file arrived in the watched folder: a tick runs shortly, whatever the interval.
    void fileArrived();
    void runArrivalTick();
    // The moves the file work recorded: statistics counted, the list of copies extended.
    void takeMoves(const QStringList& destinationPaths, const QList<qint64>& sizes);
    void addToLBfiles(const QString& destinationPath);
    void storeStatistics();
    void checkAnswering();
    void setAnswering(bool answering);
    void reportProblems();
    // The folders of the pair whose file work runs now, as they were when the work began.
    FolderPair pairAtWork() const;

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    std::atomic_bool m_abandoned = false;
    std::atomic<qint64> m_signOfLife = 0;
    std::atomic_int m_workPending = 0;  // jobs handed to the file work and not ended yet
    std::atomic_bool m_waitingForUser = false;
    QThread* m_thread;
    PassWorker* m_worker;
    bool m_leftBehind = false;
    QTimer m_timer;
    QTimer m_arrivalDelay;
    QTimer m_quietOver;  // a file written here may move once its quiet time is over
    bool m_arrivalTickWanted = false;
    bool m_scanBusy = false;
    bool m_scanNow = false;  // the running tick was asked for with the scan-now button
    Settings m_tickBegan;
    Settings m_workBegan;  // the folders when the file work last began to have jobs
    QList<FolderPair> m_workBeganPairs;
    QTimer m_answerCheck;
    bool m_answering = true;
    bool m_statisticsUnwritten = false;
    QElapsedTimer m_sinceStatisticsStored;
    QStringList m_LBfiles;
    QStringList m_LBtask;
    Problems m_tickProblems;
    Problems m_problems;
};

}  // namespace kw
