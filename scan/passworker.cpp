#include "scan/passworker.h"

#include "core/eventlog.h"
#include "platform/textcodec.h"

namespace kw {
namespace {

// The renames of a burst are made durable at least this often, and at the end of every tick.
constexpr int kFlushRenamesEveryMs = 1000;
// The moves of a burst reach the window at most this often.
constexpr int kReportEveryMs = 20;

}  // namespace

PassWorker::PassWorker(AppData& data, EventLog& log, Desktop& desktop,
                       const std::atomic_bool& abandoned, std::atomic<qint64>& signOfLife)
    : m_data(data),
      m_abandoned(abandoned),
      m_signOfLife(signOfLife),
      m_guard(m_settings.my, m_settings.blockedExtensions, log, desktop),
      m_waiting(log),
      m_refusals(log),
      m_record(data, m_settings.my, log, desktop),
      m_mover(log, desktop, m_record, m_refusals, m_waiting, m_guard,
              [this] { return stillRunning(); }),
      m_decision(data, log, m_refusals, m_waiting, m_mover, m_guard,
                 [this] { return stillRunning(); }),
      m_staying(m_waiting, m_refusals),
      m_arrivals([this] { Q_EMIT fileArrived(); }) {
    // Children, so that they move to the pass thread with this object: their signals and timers
    // belong to the thread that uses them.
    m_guard.setParent(this);
    m_record.setParent(this);
    connect(&m_guard, &FolderGuard::destinationWaiting, this, &PassWorker::destinationWaiting);
    connect(&m_record, &Record::moveRecorded, this,
            [this](const QString& destinationPath, qint64 size) {
                m_movedTo.append(destinationPath);
                m_movedSizes.append(size);
                reportMoves(false);
            });
    m_sinceMovesReported.start();
}

void PassWorker::takeSettings(const TickSettings& settings) {
    m_settings = settings;
}

TickOutcome PassWorker::runTick() {
    stillRunning();
    m_failure.reset();
    TickOutcome outcome;
    // While the destination is away the programs of the task list are still kept running.
    const bool foldersValid = ValidateDirectories();
    outcome.watchdogDue = foldersValid || m_guard.destinationAway();
    if (foldersValid) {
        // The folders and settings of this moment hold for the whole pass, restarts included.
        Pass pass;
        if (m_guard.holdFolders(pass)) {
            Step step = Step::Restart;
            while (step == Step::Restart)
                step = filePass(pass);
            m_waiting.keepLooks(step == Step::Next);
            if (step == Step::Stop)
                outcome.watchdogDue = false;
            outcome.quietEndsAtMs = pass.wakeAtMs;
        }
    }
    m_mover.flushRenames();
    reportMoves(true);
    if (m_abandoned)
        outcome.watchdogDue = false;
    outcome.failure = std::exchange(m_failure, std::nullopt);
    outcome.givenUp = m_guard.takeFoldersGivenUp();
    if (m_guard.destinationAway())
        outcome.problems.append({ProblemKind::DestinationGone, m_settings.my.Destination});
    outcome.problems.append(m_refusals.problems());
    return outcome;
}

Step PassWorker::filePass(Pass& pass) {
    Step step = decideFiles(pass);
    // Before the watched folder is listed again, and before the tick ends, every copy has its
    // name or is gone; shutdown, and a pass whose folders changed, leave the sources as they are.
    if (m_abandoned || step == Step::Stop) {
        m_mover.discardCopies();
        m_mover.flushDeletions(pass);
        return Step::Stop;
    }
    return m_mover.nameCopies(pass) == Step::Stop ? Step::Stop : step;
}

Step PassWorker::decideFiles(Pass& pass) {
    // Watched before it is listed, so that nothing that happens after the listing goes unheard.
    m_arrivals.watch(pass.source);
    pass.watch = m_arrivals.watches(pass.source) ? &m_arrivals : nullptr;
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
    m_sinceRenamesFlushed.start();
    for (const QByteArray& bytes : *names) {
        if (!stillRunning())
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
        if (m_sinceRenamesFlushed.elapsed() >= kFlushRenamesEveryMs) {
            m_mover.flushRenames();
            m_sinceRenamesFlushed.start();
        }
    }
    m_refusals.keepOnly(paths);
    m_staying.endPass();
    return Step::Next;
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

Step PassWorker::fail(int code, const QString& description) {
    m_failure = Failure{code, description};
    return Step::Stop;
}

}  // namespace kw
