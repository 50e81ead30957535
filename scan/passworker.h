#pragma once

#include "core/problems.h"
#include "core/settings.h"
#include "platform/folderwatch.h"
#include "platform/monotonic.h"
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

#include <atomic>
#include <optional>

namespace kw {

// The settings a tick works with, copied when it begins: the window may change its own at any
// time, and a change takes effect with the next tick.
struct TickSettings {
    Settings my;
    TextArray blockedExtensions;
};

// What a tick's file work leaves for the scheduler to finish on the window's thread.
struct TickOutcome {
    bool watchdogDue = false;  // the folders were usable, or the destination is waited for
    std::optional<Failure> failure;
    FoldersGivenUp givenUp;
    Problems problems;
    // The monotonic milliseconds at which the first file written here that waits out its quiet
    // time may move; 0 when none waits.
    qint64 quietEndsAtMs = 0;
};

// The file work of the watch-and-copy cycle, on a thread of its own so that a file system that
// stops answering holds up only this work, never the windows: checks the folders, holds them
// for a pass and decides every file of the watched folder, through the folder guard, the file
// decision, the mover and the record, which it owns, and watches the watched folder for arrivals.
// It reads the settings of its tick and the register; what the window shows and stores reaches it
// by signals.
class PassWorker : public QObject {
    Q_OBJECT

public:
    // abandoned: set by the scheduler at shutdown; signOfLife: the monotonic milliseconds of the
    // last step this work took, for the scheduler to see when it hangs in a call.
    PassWorker(AppData& data, EventLog& log, Desktop& desktop, const std::atomic_bool& abandoned,
               std::atomic<qint64>& signOfLife);

    // Takes the settings a tick begins with, or those the window holds between ticks.
    void takeSettings(const TickSettings& settings);
    // The file work of one tick: folders checked, the watched folder listed and every file
    // decided, the copies named, the renames flushed.
    TickOutcome runTick();
    bool ValidateDirectories() { return m_guard.ValidateDirectories(); }
    FoldersGivenUp takeFoldersGivenUp() { return m_guard.takeFoldersGivenUp(); }
    void RemoveAbandonedCopies() { m_guard.RemoveAbandonedCopies(); }
    void DestinationChosen(const QString& folder) { m_guard.DestinationChosen(folder); }
    // Shutdown: arrivals start no more ticks.
    void stopWatching() { m_arrivals.stop(); }

Q_SIGNALS:
    void destinationWaiting(bool waiting, const QString& mountPoint);
    // Files saved since the last time: where each stands now, and its size.
    void movesRecorded(const QStringList& destinationPaths, const QList<qint64>& sizes);
    // A file arrived in the watched folder of the last pass.
    void fileArrived();

private:
    Step filePass(Pass& pass);
    Step decideFiles(Pass& pass);
    // A step was taken; false when the program is ending and the pass is to stop.
    bool stillRunning();
    // Hands the moves recorded so far to the scheduler: a few times a second during a burst,
    // so that the window's thread is not woken for every file.
    void reportMoves(bool evenIfRecent);
    Step fail(int code, const QString& description);

    AppData& m_data;
    TickSettings m_settings;
    const std::atomic_bool& m_abandoned;
    std::atomic<qint64>& m_signOfLife;
    QElapsedTimer m_clock;
    FolderGuard m_guard;
    WaitingFiles m_waiting;
    Refusals m_refusals;
    Record m_record;
    Mover m_mover;
    FileDecision m_decision;
    StayingFiles m_staying;
    FolderWatch m_arrivals;  // made and read on this object's thread
    QElapsedTimer m_sinceRenamesFlushed;
    QStringList m_movedTo;
    QList<qint64> m_movedSizes;
    QElapsedTimer m_sinceMovesReported;
    std::optional<Failure> m_failure;  // ends the running tick
};

}  // namespace kw
