#include "scan/engine.h"

#include "core/eventlog.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "scan/register.h"
#include "scan/watchdog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <memory>

namespace kw {
namespace {

// A file that arrives moves at once; the events of one burst that come within a few milliseconds
// share a tick, and those during a tick one more after it.
constexpr int kArrivalDelayMs = 5;
constexpr int kStatisticsEveryMs = 1000;
// The file work that has taken no step for this long hangs in a call into a file system.
constexpr qint64 kNoAnswerMs = 5000;
// At shutdown the file work gets this long to remove a copy in progress and end its tick.
constexpr int kShutdownWaitMs = 2000;

}  // namespace

ScanEngine::ScanEngine(AppData& data, EventLog& log, Desktop& desktop, Desktop* passDesktop,
                       QObject* parent)
    : QObject(parent),
      m_data(data),
      m_log(log),
      m_desktop(desktop),
      m_thread(new QThread(this)),
      m_worker(new PassWorker(data, log, passDesktop ? *passDesktop : desktop, m_abandoned,
                              m_signOfLife)) {
    m_thread->setObjectName(QStringLiteral("pass"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
    connect(m_worker, &PassWorker::destinationWaiting, this, &ScanEngine::destinationWaiting);
    connect(m_worker, &PassWorker::movesRecorded, this, &ScanEngine::takeMoves);
    connect(m_worker, &PassWorker::fileArrived, this, &ScanEngine::fileArrived);
    connect(&m_timer, &QTimer::timeout, this, &ScanEngine::Timer_Timer);
    m_arrivalDelay.setSingleShot(true);
    m_arrivalDelay.setInterval(kArrivalDelayMs);
    connect(&m_arrivalDelay, &QTimer::timeout, this, &ScanEngine::runArrivalTick);
    m_quietOver.setSingleShot(true);
    connect(&m_quietOver, &QTimer::timeout, this, &ScanEngine::fileArrived);
    m_answerCheck.setInterval(1000);
    connect(&m_answerCheck, &QTimer::timeout, this, &ScanEngine::checkAnswering);
}

ScanEngine::~ScanEngine() {
    if (!m_abandoned)
        Abandon();
    m_thread->quit();
    // Every job handed over has ended by now, or the file work is left behind.
    if (m_leftBehind || !m_thread->wait(kShutdownWaitMs)) {
        // The thread hangs in a call into a file system and still uses the worker: both are left
        // to the end of the process.
        m_leftBehind = true;
        m_thread->setParent(nullptr);
        return;
    }
    delete m_worker;
}

TickSettings ScanEngine::currentSettings() const {
    return {m_data.My, m_data.BlockedExtensions, m_data.Pairs};
}

void ScanEngine::Timer_Timer() {
    if (m_scanBusy || m_abandoned)
        return;
    m_scanBusy = true;
    m_log.holdFileLines();
    m_tickBegan = m_data.My;
    auto outcome = std::make_shared<TickOutcome>();
    handToFileWork([this, outcome] { *outcome = m_worker->runTick(); },
                   [this, outcome] { finishTick(*outcome); });
}

void ScanEngine::finishTick(const TickOutcome& outcome) {
    applyFoldersGivenUp(outcome.givenUp, m_tickBegan);
    // A file that waits out its quiet time moves when it ends, not at the timer's next tick.
    if (outcome.quietEndsAtMs != 0)
        m_quietOver.start(int(std::clamp<qint64>(outcome.quietEndsAtMs - monotonicMs() + 1, 0,
                                                 kMaxQuietSeconds * 1000)));
    std::optional<Failure> failure = outcome.failure;
    if (outcome.watchdogDue && !m_abandoned) {
        if (const int code = TaskWatchdogPass(m_data, m_log, m_desktop, m_LBtask))
            failure = Failure{code, FailureDescription(code)};
    }
    storeStatistics();
    if (failure && !m_abandoned && failure->code > 0 && failure->code != kIndexOutOfRange)
        WriteTimerError(m_log, *failure);
    m_tickProblems = outcome.problems;
    reportProblems();
    m_log.releaseFileLines();
    m_scanBusy = false;
    if (std::exchange(m_scanNow, false))
        finishScanNow();
    Q_EMIT tickFinished();
    if (m_arrivalTickWanted && !m_abandoned) {
        m_arrivalTickWanted = false;
        m_arrivalDelay.start();
    }
}

void ScanEngine::applyFoldersGivenUp(const FoldersGivenUp& givenUp, const Settings& tickBegan) {
    SettingsStore settings(m_data.My);
    bool cleared = false;
    if (givenUp.source && m_data.My.Source == tickBegan.Source) {
        settings.forgetSource();
        cleared = true;
    }
    if (givenUp.destination && m_data.My.Destination == tickBegan.Destination) {
        settings.forgetDestination();
        cleared = true;
    }
    if (cleared)
        Q_EMIT foldersCleared();
    // A further pair whose folder cannot be used is dropped for this run, as the main window's
    // folder setting is cleared; its list file keeps it for the next.
    for (const FolderPair& pair : givenUp.pairs) {
        if (!m_data.Pairs.removeOne(pair))
            continue;
        m_data.PairsGivenUp.append(pair);
        m_log.WriteLog(QLatin1String("Pair given up for this run: '") + pair.Source +
                       QLatin1String("' -> '") + pair.Destination + QLatin1Char('\''));
    }
}

void ScanEngine::handToFileWork(std::function<void()> work, std::function<void()> then) {
    if (m_workPending == 0) {
        m_signOfLife = monotonicMs();
        m_workBegan = m_data.My;
        m_workBeganPairs = m_data.Pairs;
    }
    ++m_workPending;
    // Every job, the start-up's folder checks too, may hang in a file system.
    if (!m_answerCheck.isActive() && !m_abandoned)
        m_answerCheck.start();
    QMetaObject::invokeMethod(m_worker, [this, settings = currentSettings(), work, then] {
        m_worker->takeSettings(settings);
        work();
        QMetaObject::invokeMethod(this, [this, then] {
            m_log.collectLines();
            if (m_workPending == 0) {
                m_answerCheck.stop();
                setAnswering(true);
            }
            then();
        });
        --m_workPending;
    });
}

void ScanEngine::ValidateDirectories(std::function<void(bool valid)> checked) {
    struct Outcome {
        bool valid = false;
        FoldersGivenUp givenUp;
    };
    auto outcome = std::make_shared<Outcome>();
    handToFileWork(
        [this, outcome] {
            outcome->valid = m_worker->ValidateDirectories();
            outcome->givenUp = m_worker->takeFoldersGivenUp();
        },
        [this, outcome, began = m_data.My, checked] {
            applyFoldersGivenUp(outcome->givenUp, began);
            checked(outcome->valid);
        });
}

void ScanEngine::RemoveAbandonedCopies(std::function<void()> done) {
    handToFileWork([this] { m_worker->RemoveAbandonedCopies(); }, std::move(done));
}

void ScanEngine::DestinationChosen() {
    if (m_abandoned)
        return;
    handToFileWork([this, folder = m_data.My.Destination] { m_worker->DestinationChosen(folder); },
                   [] {});
}

void ScanEngine::fileArrived() {
    if (!m_arrivalDelay.isActive())
        m_arrivalDelay.start();
}

void ScanEngine::runArrivalTick() {
    // Before start-up has enabled the timer, and after shutdown, only the timer's ticks count.
    if (m_abandoned || !m_timer.isActive())
        return;
    if (m_scanBusy) {
        m_arrivalTickWanted = true;
        return;
    }
    Timer_Timer();
}

void ScanEngine::setInterval(int seconds) {
    m_timer.stop();
    m_timer.setInterval(seconds * 1000);
    m_timer.start();
}

void ScanEngine::butGoTimer_Click() {
    m_timer.stop();
    m_log.WriteLog(QStringLiteral("Start Scanning..."));
    Timer_Timer();
    if (m_scanBusy)
        m_scanNow = true;
    else
        finishScanNow();
}

void ScanEngine::finishScanNow() {
    if (m_abandoned)
        return;
    m_log.WriteLog(QStringLiteral("Scanning complete !"));
    // An interval of 0 (no valid setting yet) keeps the timer still, as a timer without an
    // interval never fires.
    const int interval = m_data.My.ScanInterval * 1000;
    m_timer.setInterval(interval);
    if (interval > 0)
        m_timer.start();
}

void ScanEngine::Abandon() {
    m_abandoned = true;
    if (QThread::currentThread() != thread()) {
        // Asked from inside the file work: the rest is done on this object's own thread.
        QMetaObject::invokeMethod(this, [this] { Abandon(); });
        return;
    }
    m_timer.stop();
    m_arrivalDelay.stop();
    m_answerCheck.stop();
    // Counted like every job, so that none runs after this object is gone.
    ++m_workPending;
    QMetaObject::invokeMethod(m_worker, [this] {
        m_worker->stopWatching();
        --m_workPending;
    });
    if (!fileWorkEnded() && !m_leftBehind) {
        m_leftBehind = true;
        m_log.WriteLog(QLatin1String("The file work has taken no step for ") +
                       QString::number((monotonicMs() - m_signOfLife) / 1000) +
                       QLatin1String(" s and is left behind; it deletes nothing more"));
    }
    // What it said and counted before it ended comes before what the shutdown says.
    QCoreApplication::sendPostedEvents();
    m_log.collectLines();
    storeStatistics();
}

bool ScanEngine::fileWorkEnded() {
    // The file work sees the flag at its next step. Its end is waited for here, not through
    // this thread's events: this may run inside the handling of one, or at the process's end.
    const QDeadlineTimer deadline(kShutdownWaitMs);
    while (m_workPending > 0 && !deadline.hasExpired())
        QThread::msleep(5);
    return m_workPending == 0;
}

void ScanEngine::AbandonAtExit() {
    m_abandoned = true;
    if (!m_leftBehind && !fileWorkEnded())
        m_leftBehind = true;
}

void ScanEngine::fileWorkWaitsForUser(bool waiting) {
    // The wait for the user ends as a step: the answer check counts from there again.
    m_signOfLife = monotonicMs();
    m_waitingForUser = waiting;
}

void ScanEngine::addToLBfiles(const QString& destinationPath) {
    // The list stays in alphabetical order, so a burst finds each place by halving.
    const auto [position, end] = std::equal_range(
        m_LBfiles.begin(), m_LBfiles.end(), destinationPath,
        [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    if (std::find(position, end, destinationPath) != end)
        return;
    const auto row = int(position - m_LBfiles.begin());
    m_LBfiles.insert(position, destinationPath);
    Q_EMIT copiedFileAdded(row, destinationPath);
}

void ScanEngine::takeMoves(const QStringList& destinationPaths, const QList<qint64>& sizes) {
    SettingsStore settings(m_data.My);
    for (const qint64 size : sizes)
        settings.countSavedFile(size);
    Q_EMIT statisticsChanged(StatisticsCaption(m_data.My.SavedFileCount, m_data.My.SavedMegabytes));
    for (const QString& path : destinationPaths)
        addToLBfiles(path);
    m_statisticsUnwritten = true;
    if (!m_sinceStatisticsStored.isValid() ||
        m_sinceStatisticsStored.elapsed() >= kStatisticsEveryMs)
        storeStatistics();
}

void ScanEngine::storeStatistics() {
    if (!std::exchange(m_statisticsUnwritten, false))
        return;
    SettingsStore(m_data.My).storeStatistics();
    m_sinceStatisticsStored.start();
}

void ScanEngine::checkAnswering() {
    if (m_workPending == 0)
        m_answerCheck.stop();
    if (m_workPending > 0 && !m_waitingForUser && monotonicMs() - m_signOfLife >= kNoAnswerMs)
        setAnswering(false);
    else
        setAnswering(true);
}

void ScanEngine::setAnswering(bool answering) {
    if (answering == m_answering)
        return;
    m_answering = answering;
    if (answering)
        m_log.WriteLog(QStringLiteral("The file work goes on again"));
    else
        m_log.WriteLog(QLatin1String("No answer from the file system for ") +
                       QString::number(kNoAnswerMs / 1000) + QLatin1String(" s (watched folder '") +
                       pairAtWork().Source + QLatin1String("', destination '") +
                       pairAtWork().Destination +
                       QLatin1String("'): the file work waits for it, the window does not"));
    Q_EMIT fileSystemAnswering(answering);
    reportProblems();
}

FolderPair ScanEngine::pairAtWork() const {
    const int index = m_worker->pairAtWork();
    if (index > 0 && index <= m_workBeganPairs.size())
        return m_workBeganPairs[index - 1];
    return {m_workBegan.Source, m_workBegan.Destination};
}

void ScanEngine::reportProblems() {
    Problems now = m_tickProblems;
    if (!m_answering) {
        const FolderPair hung = pairAtWork();
        now.prepend({ProblemKind::DestinationNotAnswering, hung.Destination,
                     m_workBeganPairs.isEmpty() ? QString() : hung.Source});
    }
    if (now == m_problems)
        return;
    m_problems = now;
    Q_EMIT problemsChanged(m_problems);
}

}  // namespace kw
