#include "scan/filedecision.h"

#include "core/eventlog.h"
#include "core/settings.h"
#include "platform/filecopy.h"
#include "platform/filemove.h"
#include "platform/folderwatch.h"
#include "platform/monotonic.h"
#include "scan/folderguard.h"
#include "scan/listing.h"
#include "scan/mover.h"
#include "scan/refusals.h"
#include "scan/register.h"
#include "scan/waitingfiles.h"

namespace kw {
namespace {

const QString kOpenForWriting = QStringLiteral("a program has it open for writing");

}  // namespace

FileDecision::FileDecision(AppData& data, EventLog& log, Refusals& refusals, WaitingFiles& waiting,
                           Mover& mover, FolderGuard& guard, std::function<bool()> yield)
    : m_data(data),
      m_log(log),
      m_refusals(refusals),
      m_waiting(waiting),
      m_mover(mover),
      m_guard(guard),
      m_yield(std::move(yield)) {}

Step FileDecision::decideFile(Pass& pass, const QString& name, Stay& stay) {
    stay = Stay();
    if (FindInArray(pass.blockedExtensions, FileExtension(pass.source.path() + name).toLower()) >=
        0) {
        stay.reason = Stay::Reason::Blocked;
        return Step::Next;
    }

    // From here until its name is gone the source stays open: what is compared, copied, moved
    // and deleted is this very file, and a program that opens it for writing makes the move
    // stand back.
    auto held = std::make_unique<fs::HeldSource>();
    fs::HeldSource& source = *held;
    if (!holdSource(pass, source, name, stay)) {
        // A further name of a file whose copy waits: the copies get their names first, which
        // lets this name become a name of that copy in the same pass.
        if (!std::exchange(m_lockedByOwnCopy, false))
            return Step::Next;
        if (m_mover.nameCopies(pass) == Step::Stop)
            return Step::Stop;
        if (!holdSource(pass, source, name, stay))
            return Step::Next;
    }
    // A failure that will repeat is not tried again until something has changed.
    if (m_refusals.holdsBack(pass, source)) {
        stay = {Stay::Reason::Refused, source.snapshot()};
        return Step::Next;
    }
    // A copy whose name could not be made durable lets its source go once a flush succeeds.
    if (const Mover::Unconfirmed* copy = m_mover.unconfirmedCopyOf(source)) {
        if (copy->source == source.snapshot() && pass.destination.flush() == 0) {
            m_mover.confirmCopyOf(pass, source);
            return Step::Next;
        }
        m_waiting.holdBack(source.path(), QStringLiteral("the name of its copy may not be on "
                                                         "disk yet"));
        return Step::Next;
    }

    // Only a destination file with equal contents makes the source a duplicate that is deleted;
    // any other file of that name gets the source renamed. The register only words the deletion:
    // a file moved back by hand matches its key but is not in the destination, and then it is
    // new. A name that cannot be looked up is neither free nor taken: the file waits.
    int lookUp = 0;
    if (pass.destination.factsOf(name, &lookUp)) {
        switch (compareWithDestination(pass, source, name)) {
            case Twin::Equal:
                return deleteTwin(pass, source);
            case Twin::Different:
                return renameCollision(pass, source, name);
            case Twin::Unknown:
                return Step::Next;
            case Twin::Stop:
                return Step::Stop;
        }
    }
    // A name the destination refuses cannot stand there; the move says why, once.
    const fs::Problem lookUpProblem = fs::problemOf(lookUp);
    if (lookUpProblem != fs::Problem::Missing && lookUpProblem != fs::Problem::NameRefused &&
        lookUpProblem != fs::Problem::NameTooLong) {
        m_waiting.holdBack(source.path(), QLatin1String("its name in the destination cannot be "
                                                        "looked up (") +
                                              fs::errorText(lookUp) + QLatin1Char(')'));
        return Step::Next;
    }
    return m_mover.moveNewFile(pass, std::move(held), name);
}

bool FileDecision::holdSource(Pass& pass, fs::HeldSource& source, const QString& name, Stay& stay) {
    const fs::Hold hold = source.open(pass.source, name);
    switch (hold) {
        case fs::Hold::Leased:
        case fs::Hold::Unleased:
            break;
        case fs::Hold::OpenForWriting:
            m_waiting.holdBack(source.path(), kOpenForWriting);
            // Refused a lease: looked at. Refused the open by another's lease: not.
            if (source.fd() >= 0)
                stay = {Stay::Reason::Writer, source.snapshot()};
            return false;
        case fs::Hold::Locked:
            // Another Kopierwart moves it: left to that one, without a line.
            m_lockedByOwnCopy = m_mover.holdsFile(source.snapshot());
            source.release();
            return false;
        case fs::Hold::Gone:
            return false;
        case fs::Hold::Failed:
            m_waiting.holdBack(source.path(), QLatin1String("it cannot be opened (") +
                                                  fs::errorText(source.error()) + QLatin1Char(')'));
            return false;
    }
    bool heardAll = false;
    if (!writersDone(pass, source, stay, &heardAll))
        return false;
    // Where writers elsewhere never break a lease, it proves nothing.
    if (hold == fs::Hold::Leased && pass.leasesTellWriters)
        return true;
    // What this machine's programs hold open for writing waits as a leased file would.
    if (!pass.writers)
        pass.writers = fs::WritersSnapshot::take();
    if (pass.writers->writtenAt(source.fd()))
        return waitForWriter(source, stay, kOpenForWriting);
    // Writers the watch cannot hear (on other machines, or before it was made) only the time
    // the file holds still can tell.
    if (heardAll || m_waiting.settled(source.path(), source.snapshot(), pass.stillForNs()))
        return true;
    stay = {Stay::Reason::Settling, source.snapshot()};
    return false;
}

bool FileDecision::writersDone(Pass& pass, const fs::HeldSource& source, Stay& stay,
                               bool* heardAll) {
    using State = FolderWatch::History::State;
    FolderWatch::History history =
        pass.watch ? pass.watch->historyOf(source.nativeName()) : FolderWatch::History();
    // A name made here that brought its data without a write here, or a second name of a file,
    // was made of a file written elsewhere.
    if (history.createdOnly && (source.snapshot().size > 0 || source.snapshot().links > 1))
        history.state = State::Unknown;
    // Space taken for the whole file and not yet filled: a download that is not finished,
    // whoever writes it and whenever it was last written. Checked first, so that a download
    // filled piece by piece is said to wait for that once, not again at every piece. While it is
    // written, what the file system shows is reason enough; after, it is asked again once the
    // written data is on disk.
    const bool beingWritten = history.state == State::Open;
    if (source.reservedUnwritten(!beingWritten) == fs::HeldSource::Reserved::Yes)
        return waitForWriter(source, stay,
                             QStringLiteral("it holds space reserved for data not written yet (an "
                                            "unfinished download)"));
    switch (history.state) {
        case State::Open:
            // Written since its last writer's close, by whoever: that writer still holds it.
            return waitForWriter(source, stay, kOpenForWriting);
        case State::Written:
            // A download that closes its file and opens it again to go on is not finished at
            // its first close.
            if (const qint64 quietUntil = history.lastWrittenMs + pass.quietMs;
                monotonicMs() < quietUntil) {
                m_waiting.holdBack(source.path(),
                                   QLatin1String("it was written here; it moves once nobody has "
                                                 "written it for ") +
                                       QString::number(pass.quietMs / 1000) + QLatin1String(" s"));
                stay = {Stay::Reason::Quiet, source.snapshot(), quietUntil};
                pass.wakeAt(quietUntil);
                return false;
            }
            break;
        case State::Unknown:
        case State::Arrived:
            break;
    }
    // Written here and left alone since, where the watch hears every writer: no other sign is
    // needed. A file renamed in may still be held open by a writer of another user, who wrote it
    // before it came; only the time it holds still can tell of that one.
    *heardAll = pass.watchSeesEveryWriter && history.state == State::Written;
    return true;
}

bool FileDecision::waitForWriter(const fs::HeldSource& source, Stay& stay, const QString& reason) {
    m_waiting.holdBack(source.path(), reason);
    stay = {Stay::Reason::Writer, source.snapshot()};
    return false;
}

FileDecision::Twin FileDecision::compareWithDestination(Pass& pass, const fs::HeldSource& source,
                                                        const QString& name) {
    const fs::Comparison compared = fs::compareContents(source, pass.destination, name, m_yield);
    switch (compared.verdict) {
        case fs::Comparison::Verdict::Equal:
            return Twin::Equal;
        case fs::Comparison::Verdict::Different:
            return Twin::Different;
        case fs::Comparison::Verdict::SameFile:
            // Deleting it would delete the only copy, and numbering it would copy it onto itself.
            m_waiting.holdBack(source.path(),
                               QLatin1String("it is the very file that stands in the "
                                             "destination as '") +
                                   pass.destination.path() + name + QLatin1Char('\''));
            return Twin::Unknown;
        case fs::Comparison::Verdict::Unknown:
            break;
    }
    switch (compared.problem.problem) {
        case fs::CopyProblem::Interrupted:
            return Twin::Stop;
        case fs::CopyProblem::SourceOpenedForWriting:
            m_waiting.holdBack(source.path(), kOpenForWriting);
            return Twin::Unknown;
        case fs::CopyProblem::SourceChanged:
            return Twin::Unknown;
        default:
            break;
    }
    // A comparison that could not be made (no descriptor left, a read error) says nothing: the
    // file is neither deleted as a twin nor copied as a different file.
    m_waiting.holdBack(source.path(), QLatin1String("it cannot be compared with '") +
                                          pass.destination.path() + name + QLatin1Char('\''));
    return Twin::Unknown;
}

Step FileDecision::deleteTwin(Pass& pass, fs::HeldSource& source) {
    // The twin lets the source go only once its name is on disk, whoever made it.
    if (const int error = pass.destination.flush()) {
        m_waiting.holdBack(source.path(), QLatin1String("its twin in the destination may not be "
                                                        "on disk yet (") +
                                              fs::errorText(error) + QLatin1Char(')'));
        return Step::Next;
    }
    const QString key = CopyKey(source.path(), source.snapshot().size, source.created());
    return m_mover.deleteSource(pass, source, m_data.CopiedFiles.contains(key));
}

Step FileDecision::renameCollision(Pass& pass, const fs::HeldSource& source, const QString& name) {
    const QString sourcePath = source.path();
    // Each way this can fail ends the work on this file only; the pass goes on with the next.
    for (int k = 1; k <= 999; ++k) {
        const QString candidate = QStringLiteral("%1 ").arg(k, 3, 10, QLatin1Char('0')) + name;
        // Any entry of that name counts, also a folder or a link, as none may be replaced.
        int error = 0;
        if (pass.destination.factsOf(candidate, &error))
            continue;
        switch (fs::problemOf(error)) {
            case fs::Problem::Missing:
                break;
            case fs::Problem::NameTooLong:
                m_refusals.remember(pass, source, Refusal::NameTooLong);
                return Step::Next;
            case fs::Problem::NameRefused:
                m_refusals.remember(pass, source, Refusal::NameRefused);
                return Step::Next;
            default:
                m_waiting.holdBack(sourcePath, QLatin1String("the name '") + candidate +
                                                   QLatin1String("' cannot be looked up (") +
                                                   fs::errorText(error) + QLatin1Char(')'));
                return Step::Next;
        }
        if (!pass.source.stillThere()) {
            m_guard.reportFolderChanged(pass);
            return Step::Stop;
        }
        m_log.WriteLog(QLatin1String("Renaming ") + sourcePath + QLatin1String(" -> ") + candidate);
        error = pass.source.renameInside(name, candidate);
        if (error == 0)
            return Step::Restart;
        // Taken in the watched folder: the next number.
        if (fs::problemOf(error) == fs::Problem::Exists)
            continue;
        m_refusals.remember(pass, source, refusalOf(error).value_or(Refusal::Other));
        return Step::Next;
    }
    m_refusals.remember(pass, source, Refusal::NoFreeNumber);
    return Step::Next;
}

}  // namespace kw
