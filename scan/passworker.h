#pragma once

#include "core/folderpairs.h"
#include "core/problems.h"
#include "core/settings.h"
#include "platform/monotonic.h"
#include "scan/failure.h"
#include "scan/folderguard.h"
#include "scan/pairwork.h"
#include "scan/useddestinations.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace kw {

// The settings a tick works with, copied when it begins: the window may change its own at any
// time, and a change takes effect with the next tick.
struct TickSettings {
    Settings my;
    TextArray blockedExtensions;
    QList<FolderPair> pairs;  // the pairs beyond my.Source -> my.Destination
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
// stops answering holds up only this work, never the windows. Each folder pair has its own
// PairWork (folders checked and held, every file decided, arrivals watched); a tick runs the pass
// of every pair in turn, so one pair's trouble holds the others up only as long as its own file
// system takes. Pairs are arranged between passes, never inside one. It reads the settings of its
// tick and the register; what the window shows and stores reaches it by signals.
class PassWorker : public QObject {
    Q_OBJECT

public:
    // abandoned: set by the scheduler at shutdown; signOfLife: the monotonic milliseconds of the
    // last step this work took, for the scheduler to see when it hangs in a call.
    PassWorker(AppData& data, EventLog& log, Desktop& desktop, const std::atomic_bool& abandoned,
               std::atomic<qint64>& signOfLife);

    // Takes the settings a tick begins with, or those the window holds between ticks.
    void takeSettings(const TickSettings& settings);
    // The file work of one tick: for every pair, folders checked, the watched folder listed and
    // every file decided, the copies named, the renames flushed.
    TickOutcome runTick();
    // Checks every pair's folders; true when the main window's pair is usable.
    bool ValidateDirectories();
    FoldersGivenUp takeFoldersGivenUp();
    void RemoveAbandonedCopies() { m_pairs.front()->RemoveAbandonedCopies(); }
    void DestinationChosen(const QString& folder) { m_pairs.front()->DestinationChosen(folder); }
    // Shutdown: arrivals start no more ticks.
    void stopWatching();
    // The pair whose file work runs now, by its place (0: the main window's); for the scheduler
    // to name the folders of a call that hangs.
    int pairAtWork() const { return m_pairAtWork.load(std::memory_order_relaxed); }

Q_SIGNALS:
    // The main window's destination.
    void destinationWaiting(bool waiting, const QString& mountPoint);
    // Files saved since the last time: where each stands now, and its size.
    void movesRecorded(const QStringList& destinationPaths, const QList<qint64>& sizes);
    // A file arrived in a watched folder of the last pass.
    void fileArrived();

private:
    // One PairWork for each pair of the settings; a pair kept keeps its own, by its watched folder.
    void arrangePairs();
    std::unique_ptr<PairWork> makePair(bool mainPair);
    // True when pair i breaks the rules against a pair before it; said once while it does. The
    // main window's pair breaks none: a later pair that clashes with it is refused.
    bool clashes(size_t i);
    // A step was taken; false when the program is ending and the pass is to stop.
    bool stillRunning();
    // Hands the moves recorded so far to the scheduler: a few times a second during a burst,
    // so that the window's thread is not woken for every file.
    void reportMoves(bool evenIfRecent);
    void collectGivenUp(size_t i, FoldersGivenUp& into);

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    TickSettings m_settings;
    const std::atomic_bool& m_abandoned;
    std::atomic<qint64>& m_signOfLife;
    std::atomic_int m_pairAtWork = 0;
    UsedDestinations m_used;
    std::vector<std::unique_ptr<PairWork>> m_pairs;       // the main window's pair first
    QSet<QString> m_clashSaid;                            // watched folders of pairs refused so far
    std::vector<std::optional<PairLineages>> m_lineages;  // of this tick's pairs, by place
    QStringList m_movedTo;
    QList<qint64> m_movedSizes;
    QElapsedTimer m_sinceMovesReported;
};

}  // namespace kw
