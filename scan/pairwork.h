#pragma once

#include "core/problems.h"
#include "core/settings.h"
#include "platform/folderwatch.h"
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

#include <functional>
#include <optional>

namespace kw {

class UsedDestinations;

// What one pair's pass leaves for the tick.
struct PairOutcome {
    bool usable = false;   // the folders were usable, or the destination is waited for
    bool stopped = false;  // the pass ended by a stop (shutdown, a folder changed, a failure)
    std::optional<Failure> failure;
    qint64 wakeAtMs = 0;
};

// The file work of one watched folder and its destination: the folder guard, the file decision,
// the mover and the record of that pair, with its own held folders, arrival watch, waiting
// files and remembered failures. The register, the blocked extensions and the used destinations
// are shared with the other pairs; it lives on the pass thread.
class PairWork : public QObject {
    Q_OBJECT

public:
    // my: the tick's settings, whose Source and Destination are this pair's; mainPair: the pair
    // of the main window, whose folders the window shows.
    PairWork(AppData& data, const Settings& my, const TextArray& blockedExtensions,
             UsedDestinations& used, EventLog& log, Desktop& desktop, bool mainPair,
             std::function<bool()> stillRunning);

    // The settings of the tick that begins, with this pair's folders.
    void takeSettings(const Settings& my) {
        m_my = my;
        m_folders = {my.Source, my.Destination};
    }
    const Settings& settings() const { return m_my; }
    // The folders as the tick gave them, also once the guard has given one up.
    const FolderPair& folders() const { return m_folders; }
    bool mainPair() const { return m_mainPair; }

    bool ValidateDirectories() { return m_guard.ValidateDirectories(); }
    FoldersGivenUp takeFoldersGivenUp() { return m_guard.takeFoldersGivenUp(); }
    void RemoveAbandonedCopies() { m_guard.RemoveAbandonedCopies(); }
    void DestinationChosen(const QString& folder) { m_guard.DestinationChosen(folder); }
    bool destinationAway() const { return m_guard.destinationAway(); }
    void stopWatching() { m_arrivals.stop(); }

    // One pass over the watched folder, its restarts included, when its folders can be held and
    // clash() is false once they have been checked.
    PairOutcome runPass(const std::function<bool()>& clash);
    int flushRenames() { return m_mover.flushRenames(); }
    Problems problems() const;

Q_SIGNALS:
    void destinationWaiting(bool waiting, const QString& mountPoint);
    void moveRecorded(const QString& destinationPath, qint64 size);
    void fileArrived();

private:
    Step filePass(Pass& pass);
    Step decideFiles(Pass& pass);
    Step fail(int code, const QString& description);

    Settings m_my;
    FolderPair m_folders;
    bool m_mainPair;
    std::function<bool()> m_stillRunning;
    FolderGuard m_guard;
    WaitingFiles m_waiting;
    Refusals m_refusals;
    Record m_record;
    Mover m_mover;
    FileDecision m_decision;
    StayingFiles m_staying;
    FolderWatch m_arrivals;  // made and read on the pass thread
    QElapsedTimer m_sinceRenamesFlushed;
    std::optional<Failure> m_failure;  // ends the running pass
};

}  // namespace kw
