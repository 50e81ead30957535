#include "scan/passworker.h"

#include "core/eventlog.h"

namespace kw {
namespace {

// The moves of a burst reach the window at most this often.
constexpr int kReportEveryMs = 20;

Settings withFolders(Settings my, const FolderPair& pair) {
    my.Source = pair.Source;
    my.Destination = pair.Destination;
    return my;
}

}  // namespace

PassWorker::PassWorker(AppData& data, EventLog& log, Desktop& desktop,
                       const std::atomic_bool& abandoned, std::atomic<qint64>& signOfLife)
    : m_data(data),
      m_log(log),
      m_desktop(desktop),
      m_abandoned(abandoned),
      m_signOfLife(signOfLife) {
    m_pairs.push_back(makePair(true));
    m_sinceMovesReported.start();
}

std::unique_ptr<PairWork> PassWorker::makePair(bool mainPair) {
    auto pair =
        std::make_unique<PairWork>(m_data, m_settings.my, m_settings.blockedExtensions, m_used,
                                   m_log, m_desktop, mainPair, [this] { return stillRunning(); });
    // A child, so that it moves to the pass thread with this object, or is made there.
    pair->setParent(this);
    if (mainPair)
        connect(pair.get(), &PairWork::destinationWaiting, this, &PassWorker::destinationWaiting);
    connect(pair.get(), &PairWork::fileArrived, this, &PassWorker::fileArrived);
    connect(pair.get(), &PairWork::moveRecorded, this,
            [this](const QString& destinationPath, qint64 size) {
                m_movedTo.append(destinationPath);
                m_movedSizes.append(size);
                reportMoves(false);
            });
    return pair;
}

void PassWorker::takeSettings(const TickSettings& settings) {
    m_settings = settings;
    arrangePairs();
}

void PassWorker::arrangePairs() {
    std::vector<std::unique_ptr<PairWork>> arranged;
    arranged.push_back(std::move(m_pairs.front()));
    arranged.front()->takeSettings(m_settings.my);
    for (const FolderPair& folders : std::as_const(m_settings.pairs)) {
        std::unique_ptr<PairWork> pair;
        for (size_t i = 1; i < m_pairs.size() && !pair; ++i) {
            if (m_pairs[i] && m_pairs[i]->folders().Source == folders.Source)
                pair = std::move(m_pairs[i]);
        }
        if (!pair)
            pair = makePair(false);
        pair->takeSettings(withFolders(m_settings.my, folders));
        arranged.push_back(std::move(pair));
    }
    // A pair let go takes its watch, its waiting files and its remembered failures with it.
    m_pairs = std::move(arranged);
}

TickOutcome PassWorker::runTick() {
    stillRunning();
    TickOutcome outcome;
    bool usable = false;
    bool stopped = false;
    const bool several = m_pairs.size() > 1;
    m_lineages.clear();
    for (size_t i = 0; i < m_pairs.size() && !m_abandoned; ++i) {
        PairWork& pair = *m_pairs[i];
        m_pairAtWork.store(int(i), std::memory_order_relaxed);
        const PairOutcome done = pair.runPass([this, i] { return clashes(i); });
        usable = usable || done.usable;
        stopped = stopped || done.stopped;
        if (!outcome.failure)
            outcome.failure = done.failure;
        if (done.wakeAtMs != 0)
            outcome.quietEndsAtMs = outcome.quietEndsAtMs == 0
                                        ? done.wakeAtMs
                                        : std::min(outcome.quietEndsAtMs, done.wakeAtMs);
        // Each pair's renames are durable before the next pair's file system is asked anything.
        pair.flushRenames();
        reportMoves(true);
        collectGivenUp(i, outcome.givenUp);
        for (Problem problem : pair.problems()) {
            if (several)
                problem.pair = pair.folders().Source;
            outcome.problems.append(problem);
        }
    }
    m_pairAtWork.store(0, std::memory_order_relaxed);
    reportMoves(true);
    // While the destination is away the programs of the task list are still kept running.
    outcome.watchdogDue = usable && !stopped && !m_abandoned;
    return outcome;
}

bool PassWorker::clashes(size_t i) {
    // Each pair's folders are looked at once a tick, also those of a pair that does not run now.
    m_lineages.resize(m_pairs.size());
    for (size_t j = 0; j <= i; ++j) {
        if (!m_lineages[j] || j == i)
            m_lineages[j] = lineagesOf(m_pairs[j]->folders());
    }
    const FolderPair& pair = m_pairs[i]->folders();
    for (size_t j = 0; j < i; ++j) {
        if (!PairsClash(*m_lineages[i], *m_lineages[j]))
            continue;
        const FolderPair& other = m_pairs[j]->folders();
        if (!m_clashSaid.contains(pair.Source)) {
            m_clashSaid.insert(pair.Source);
            m_log.WriteLog(QLatin1String("Pair refused: '") + pair.Source +
                           QLatin1String("' -> '") + pair.Destination +
                           QLatin1String("' overlaps the pair '") + other.Source +
                           QLatin1String("' -> '") + other.Destination +
                           QLatin1String("'; its files stay where they are"));
        }
        return true;
    }
    m_clashSaid.remove(pair.Source);
    return false;
}

bool PassWorker::ValidateDirectories() {
    bool mainValid = false;
    for (size_t i = 0; i < m_pairs.size(); ++i) {
        m_pairAtWork.store(int(i), std::memory_order_relaxed);
        const bool valid = m_pairs[i]->ValidateDirectories();
        if (i == 0)
            mainValid = valid;
    }
    m_pairAtWork.store(0, std::memory_order_relaxed);
    return mainValid;
}

FoldersGivenUp PassWorker::takeFoldersGivenUp() {
    FoldersGivenUp givenUp;
    for (size_t i = 0; i < m_pairs.size(); ++i)
        collectGivenUp(i, givenUp);
    return givenUp;
}

void PassWorker::collectGivenUp(size_t i, FoldersGivenUp& into) {
    const FoldersGivenUp pair = m_pairs[i]->takeFoldersGivenUp();
    if (i == 0) {
        into.source = into.source || pair.source;
        into.destination = into.destination || pair.destination;
    } else if (pair.source || pair.destination) {
        into.pairs.append(m_pairs[i]->folders());
    }
}

void PassWorker::stopWatching() {
    for (const auto& pair : m_pairs)
        pair->stopWatching();
}

bool PassWorker::stillRunning() {
    m_signOfLife.store(monotonicMs(), std::memory_order_relaxed);
    return !m_abandoned;
}

void PassWorker::reportMoves(bool evenIfRecent) {
    if (m_movedTo.isEmpty() || (!evenIfRecent && m_sinceMovesReported.elapsed() < kReportEveryMs))
        return;
    Q_EMIT movesRecorded(std::exchange(m_movedTo, {}), std::exchange(m_movedSizes, {}));
    m_sinceMovesReported.start();
}

}  // namespace kw
