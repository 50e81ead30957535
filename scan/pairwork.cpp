#include "scan/pairwork.h"

#include "core/eventlog.h"
#include "platform/textcodec.h"

namespace kw {
namespace {

// The renames of a burst are made durable at least this often, and at the end of every tick.
constexpr int kFlushRenamesEveryMs = 1000;

}  // namespace

PairWork::PairWork(AppData& data, const Settings& my, const TextArray& blockedExtensions,
                   UsedDestinations& used, EventLog& log, Desktop& desktop, bool mainPair,
                   std::function<bool()> stillRunning)
    : m_my(my),
      m_mainPair(mainPair),
      m_stillRunning(std::move(stillRunning)),
      m_guard(m_my, blockedExtensions, used, log, desktop),
      m_waiting(log),
      m_refusals(log),
      m_record(data, m_my, log, desktop),
      m_mover(log, desktop, m_record, m_refusals, m_waiting, m_guard, m_stillRunning),
      m_decision(data, log, m_refusals, m_waiting, m_mover, m_guard, m_stillRunning),
      m_staying(m_waiting, m_refusals),
      m_arrivals([this] { Q_EMIT fileArrived(); }) {
    // Children, so that they move to the pass thread with this object: their signals and timers
    // belong to the thread that uses them.
    m_guard.setParent(this);
    m_record.setParent(this);
    connect(&m_guard, &FolderGuard::destinationWaiting, this, &PairWork::destinationWaiting);
    connect(&m_record, &Record::moveRecorded, this, &PairWork::moveRecorded);
}

PairOutcome PairWork::runPass(const std::function<bool()>& clash) {
    m_failure.reset();
    PairOutcome outcome;
    const bool valid = ValidateDirectories() && !clash();
    outcome.usable = valid || m_guard.destinationAway();
    // The folders and settings of this moment hold for the whole pass, restarts included.
    Pass pass;
    if (valid && m_guard.holdFolders(pass)) {
        Step step = Step::Restart;
        while (step == Step::Restart)
            step = filePass(pass);
        m_waiting.keepLooks(step == Step::Next);
        outcome.stopped = step == Step::Stop;
        outcome.wakeAtMs = pass.wakeAtMs;
    }
    outcome.failure = std::exchange(m_failure, std::nullopt);
    return outcome;
}

Problems PairWork::problems() const {
    Problems problems;
    if (m_guard.destinationAway())
        problems.append({ProblemKind::DestinationGone, m_my.Destination});
    problems.append(m_refusals.problems());
    return problems;
}

Step PairWork::filePass(Pass& pass) {
    Step step = decideFiles(pass);
    // Before the watched folder is listed again, and before the tick ends, every copy has its
    // name or is gone; shutdown, and a pass whose folders changed, leave the sources as they are.
    if (!m_stillRunning() || step == Step::Stop) {
        m_mover.discardCopies();
        m_mover.flushDeletions(pass);
        return Step::Stop;
    }
    return m_mover.nameCopies(pass) == Step::Stop ? Step::Stop : step;
}

Step PairWork::decideFiles(Pass& pass) {
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
        if (!m_stillRunning())
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

Step PairWork::fail(int code, const QString& description) {
    m_failure = Failure{code, description};
    return Step::Stop;
}

}  // namespace kw
