#pragma once

#include "core/problems.h"
#include "platform/filecopy.h"
#include "platform/filemove.h"
#include "platform/folderwatch.h"
#include "scan/bincopy.h"
#include "scan/failure.h"
#include "scan/repeatfailures.h"
#include "scan/useddestinations.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

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
    // Removes what copies of an earlier, killed run left behind in every destination folder used
    // so far that is there now; only temporary copies of this installation.
    void RemoveAbandonedCopies();
    // The user chose the destination folder: where it lies now is where it belongs.
    void DestinationChosen();
    // True while the file system of the destination folder is not mounted.
    bool DestinationAway() const { return m_destinationAway; }
    // Shutdown: a copy in progress stops at its next yield and removes its temporary file, and
    // the interrupted tick ends without another step. The timer stops and later ticks do
    // nothing. The engine must outlive a tick that is running, so delete it only afterwards.
    void Abandon();

    QTimer& Timer() { return m_timer; }
    // A new interval from the user: the timer restarts and waits the full interval.
    void setInterval(int seconds);
    bool ScanBusy() const { return m_scanBusy; }

    const QStringList& LBf() const { return m_LBf; }
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
    // The problems that keep files from moving, whole, whenever the set changes.
    void problemsChanged(const kw::Problems& problems);

private:
    // How the work on one file or one pass ends.
    enum class Step { Next, Restart, Stop };

    void runTick();
    Step filePass();
    Step decideFiles();
    Step decideFile(const QString& name);
    // Opens the source for the whole decision; false when it must wait for a later tick.
    bool holdSource(fs::HeldSource& source, const QString& sourcePath);
    // Without a lease: true when the file looks as at the previous tick and is at least two
    // seconds old.
    bool settledWithoutLease(const fs::HeldSource& source);
    // Logs why a file waits, once while it keeps waiting for that reason.
    void holdBack(const QString& sourcePath, const QString& reason);
    // The bookkeeping of files that wait, carried over to the next tick.
    void keepLooks(bool passCompleted);
    enum class Twin { Equal, Different, SourceChanged, Stop };
    Twin compareWithDestination(const fs::HeldSource& source, const QString& destinationPath);
    Step moveNewFile(std::unique_ptr<fs::HeldSource> source, const QString& destinationPath);
    Step copyNewFile(std::unique_ptr<fs::HeldSource> source, const QString& destinationPath);
    // Names the copies that wait under their temporary names, after one flush for all of them,
    // then deletes their sources.
    void nameCopies();
    bool copiesDue() const;
    void reportCopyFailure(const fs::HeldSource& source, int result, const CopyReport& report);
    // The success steps of a move, up to but without the removal of the source.
    void recordMove(const QString& sourcePath, const QString& destinationPath, qint64 size,
                    const QDateTime& created);
    Step renameCollision(const fs::HeldSource& source, const QString& destinationPath);
    // Remembers a failure of this file that will repeat; says why once. False when the
    // failure is not one that repeats.
    bool rememberRefusal(const fs::HeldSource& source, Refusal refusal);
    bool rememberRefusal(const fs::HeldSource& source, int error);
    void addToLBfiles(const QString& destinationPath);
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
    // Checks whether the destination's file system has gone and says so when that changes;
    // mountPointNow receives where the destination (or the folder above it) lies now.
    bool checkDestinationAway(QString* mountPointNow = nullptr);
    // Makes the setting's folder when it is missing; when that fails, logs it, shows problem
    // (%1: the folder) and request, clears the setting and answers false.
    bool ensureFolder(QString& folder, QLatin1String setting, const QString& problem,
                      const QString& request);
    UsedDestinations& usedDestinations();
    void removeAbandonedCopiesIn(const QString& folder);
    void reportSameFolder(const QString& folder);
    void reportProblems();

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    QTimer m_timer;
    FolderWatch m_arrivals;
    QTimer m_arrivalDelay;
    bool m_arrivalTickWanted = false;
    QElapsedTimer m_sinceYield;
    fs::FolderFlushes m_folderFlushes;
    // Copies of the running pass that are whole under their temporary names, their sources still
    // held: named in groups, so that a burst costs one flush per group, not two per file.
    struct UnnamedCopy {
        std::unique_ptr<fs::HeldSource> source;
        std::unique_ptr<fs::StagedCopy> copy;
        QString destinationPath;
    };
    std::vector<UnnamedCopy> m_unnamedCopies;
    QElapsedTimer m_sinceFirstUnnamed;
    bool m_statisticsUnwritten = false;
    QElapsedTimer m_sinceBatchFinished;
    bool m_scanBusy = false;
    bool m_abandoned = false;
    bool m_destinationAway = false;
    UsedDestinations m_used;
    std::optional<Failure> m_failure;  // ends the running tick
    // The folders of the running pass, as they were when the watched folder was listed.
    QString m_passSource;
    QString m_passDestination;
    DestinationPlace m_passPlace;
    RepeatFailures m_repeatFailures;
    Problems m_problems;
    QStringList m_LBf;
    QStringList m_LBtask;
    QStringList m_LBfiles;
    // Files that wait, by source path: the look at them without a lease, and the reason logged,
    // as of the previous tick and of the running one.
    QHash<QString, fs::Snapshot> m_lastLook;
    QHash<QString, fs::Snapshot> m_looksNow;
    QHash<QString, QString> m_heldBack;
    QHash<QString, QString> m_heldBackNow;
};

}  // namespace kw
