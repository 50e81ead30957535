#include "scan/engine.h"

#include "core/eventlog.h"
#include "core/settings.h"
#include "platform/textcodec.h"
#include "scan/watchdog.h"

#include <QCoreApplication>

namespace kw {
namespace {

// A file that arrives moves at once; the events of one burst that come within a few milliseconds
// share a tick, and those during a tick one more after it.
constexpr int kArrivalDelayMs = 5;
constexpr int kYieldEveryMs = 50;
constexpr int kBatchEveryMs = 1000;

}  // namespace

ScanEngine::ScanEngine(AppData& data, EventLog& log, Desktop& desktop, QObject* parent)
    : QObject(parent),
      m_data(data),
      m_log(log),
      m_desktop(desktop),
      m_guard(data, log, desktop),
      m_waiting(log),
      m_refusals(log),
      m_record(data, log, desktop),
      m_mover(log, desktop, m_record, m_refusals, m_waiting, m_guard,
              [this] { return !m_abandoned; }),
      m_decision(data, log, m_refusals, m_waiting, m_mover, m_guard,
                 [this] { return yieldToEvents(); }),
      m_staying(m_waiting, m_refusals),
      m_arrivals([this] { fileArrived(); }) {
    connect(&m_guard, &FolderGuard::foldersCleared, this, &ScanEngine::foldersCleared);
    connect(&m_guard, &FolderGuard::destinationWaiting, this, &ScanEngine::destinationWaiting);
    connect(&m_record, &Record::statisticsChanged, this, &ScanEngine::statisticsChanged);
    connect(&m_record, &Record::copiedFileAdded, this, &ScanEngine::copiedFileAdded);
    connect(&m_timer, &QTimer::timeout, this, &ScanEngine::Timer_Timer);
    m_arrivalDelay.setSingleShot(true);
    m_arrivalDelay.setInterval(kArrivalDelayMs);
    connect(&m_arrivalDelay, &QTimer::timeout, this, &ScanEngine::runArrivalTick);
}

ScanEngine::~ScanEngine() = default;

void ScanEngine::Timer_Timer() {
    if (m_scanBusy || m_abandoned)
        return;
    m_scanBusy = true;
    m_failure.reset();
    m_log.holdFileLines();
    m_sinceYield.start();
    runTick();
    finishBatch(true);
    if (m_failure && !m_abandoned && m_failure->code > 0 && m_failure->code != kIndexOutOfRange)
        WriteTimerError(m_log, *m_failure);
    m_failure.reset();
    reportProblems();
    m_log.releaseFileLines();
    m_scanBusy = false;
    if (m_arrivalTickWanted && !m_abandoned) {
        m_arrivalTickWanted = false;
        m_arrivalDelay.start();
    }
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
    m_timer.stop();
    m_arrivalDelay.stop();
    m_arrivals.stop();
    finishBatch(true);
}

void ScanEngine::runTick() {
    // While the destination is away the programs of the task list are still kept running.
    const bool foldersValid = ValidateDirectories();
    if (!foldersValid && !m_guard.destinationAway())
        return;
    if (foldersValid) {
        // The folders and settings of this moment hold for the whole pass, restarts included.
        Pass pass;
        if (m_guard.holdFolders(pass)) {
            Step step = Step::Restart;
            while (step == Step::Restart)
                step = filePass(pass);
            m_waiting.keepLooks(step == Step::Next);
            if (step == Step::Stop)
                return;
        }
    }
    if (!yieldToEvents())
        return;
    if (const int code = TaskWatchdogPass(m_data, m_log, m_desktop, m_LBtask)) {
        fail(code, FailureDescription(code));
        return;
    }
    yieldToEvents();
}

Step ScanEngine::filePass(Pass& pass) {
    Step step = decideFiles(pass);
    // Before the watched folder is listed again, and before the tick ends, every copy has its
    // name or is gone; shutdown, and a pass whose folders changed, leave the sources as they are.
    if (m_abandoned || step == Step::Stop) {
        m_mover.discardCopies();
        return Step::Stop;
    }
    return m_mover.nameCopies(pass) == Step::Stop ? Step::Stop : step;
}

Step ScanEngine::decideFiles(Pass& pass) {
    // Watched before it is listed, so that nothing that happens after the listing goes unheard.
    m_arrivals.watch(pass.source);
    if (m_staying.beginPass(pass, m_arrivals))
        return Step::Next;
    int error = 0;
    const auto names = pass.source.regularFileNames(&error);
    if (!names)
        return fail(kListingFailed, QLatin1String("The watched folder '") + pass.source.path() +
                                        QLatin1String("' cannot be listed (") +
                                        fs::errorText(error) + QLatin1Char(')'));
    QStringList paths;
    paths.reserve(names->size());
    for (const QByteArray& bytes : *names) {
        if (!yieldNowAndThen())
            return Step::Stop;
        const QString name = decodeLocal(bytes);
        paths.append(pass.source.path() + name);
        if (m_staying.stays(pass, bytes, name))
            continue;
        Stay stay;
        const Step step = m_decision.decideFile(pass, name, stay);
        m_staying.decided(bytes, stay);
        if (step != Step::Next)
            return step;
        if (m_mover.copiesDue() && m_mover.nameCopies(pass) == Step::Stop)
            return Step::Stop;
        finishBatch(false);
    }
    m_refusals.keepOnly(paths);
    m_staying.endPass();
    return Step::Next;
}

void ScanEngine::finishBatch(bool evenIfRecent) {
    if (!evenIfRecent && m_sinceBatchFinished.isValid() &&
        m_sinceBatchFinished.elapsed() < kBatchEveryMs)
        return;
    m_mover.flushRenames();
    m_record.writeStatistics();
    m_sinceBatchFinished.start();
}

bool ScanEngine::yieldToEvents() {
    QCoreApplication::processEvents();
    m_sinceYield.start();
    return !m_abandoned;
}

bool ScanEngine::yieldNowAndThen() {
    return m_sinceYield.elapsed() < kYieldEveryMs || yieldToEvents();
}

Step ScanEngine::fail(int code, const QString& description) {
    m_failure = Failure{code, description};
    return Step::Stop;
}

void ScanEngine::reportProblems() {
    Problems now;
    if (m_guard.destinationAway())
        now.append({ProblemKind::DestinationGone, m_data.My.Destination});
    now.append(m_refusals.problems());
    if (now == m_problems)
        return;
    m_problems = now;
    Q_EMIT problemsChanged(m_problems);
}

}  // namespace kw
