#include "scan/mover.h"

#include "core/eventlog.h"
#include "platform/fstraits.h"
#include "scan/bincopy.h"
#include "scan/failure.h"
#include "scan/folderguard.h"
#include "scan/record.h"
#include "scan/refusals.h"
#include "scan/register.h"
#include "scan/waitingfiles.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace kw {

QString CopyCaption() {
    return QCoreApplication::translate("kw::Mover", "Neue Datei kopieren");
}

namespace {

// A group of copies is named when it has this many files or bytes, or when its first copy has
// waited this long.
constexpr size_t kCopiesPerGroup = 500;
constexpr qint64 kBytesPerGroup = 64 * 1024 * 1024;
constexpr int kGroupWaitMs = 1000;
// Each waiting copy holds three descriptors; this many stay free for the rest of the program
// (the window system's connection, the log, the sound).
constexpr int kDescriptorsKept = 64;

std::pair<quint64, quint64> fileKey(const fs::Snapshot& look) {
    return {look.device, look.inode};
}

}  // namespace

Mover::Mover(EventLog& log, Desktop& desktop, Record& record, Refusals& refusals,
             WaitingFiles& waiting, FolderGuard& guard, std::function<bool()> stillRunning)
    : m_log(log),
      m_desktop(desktop),
      m_record(record),
      m_refusals(refusals),
      m_waiting(waiting),
      m_guard(guard),
      m_stillRunning(std::move(stillRunning)) {}

Step Mover::moveNewFile(Pass& pass, std::unique_ptr<fs::HeldSource> held, const QString& name) {
    fs::HeldSource& source = *held;
    const QString sourcePath = source.path();
    const QString destinationPath = pass.destination.path() + name;
    // Between two file systems a rename cannot be made; its checks would only cost the copy time.
    if (pass.source.device() != pass.destination.device())
        return copyNewFile(pass, std::move(held), name);
    const fs::NameResult result = source.moveTo(pass.destination, name, &m_renamed);
    switch (result) {
        case fs::NameResult::Done:
            m_log.WriteLog(QLatin1String("Move ") + sourcePath + QLatin1String(" -> ") +
                           destinationPath);
            m_record.recordMove(pass.soundFile, sourcePath, destinationPath, source.snapshot().size,
                                source.created());
            m_refusals.movedInto(pass);
            return Step::Next;
        case fs::NameResult::NeedsCopy:
            return copyNewFile(pass, std::move(held), name);
        case fs::NameResult::OpenedForWriting:
            m_waiting.holdBack(sourcePath, QStringLiteral("a program has it open for writing"));
            return Step::Next;
        case fs::NameResult::Gone:
            return Step::Next;
        case fs::NameResult::FolderChanged:
            m_guard.reportFolderChanged(pass);
            return Step::Stop;
        case fs::NameResult::Changed:
        case fs::NameResult::DestinationExists:
        case fs::NameResult::Failed:
            break;
    }
    // The file stays where it is and is looked at again on the next tick.
    WriteMoveError(m_log, result, source.error(), sourcePath, destinationPath);
    if (result == fs::NameResult::Failed)
        m_refusals.rememberError(pass, source, source.error());
    return Step::Next;
}

Step Mover::copyNewFile(Pass& pass, std::unique_ptr<fs::HeldSource> source, const QString& name) {
    const QString sourcePath = source->path();
    const QString destinationPath = pass.destination.path() + name;
    // A copy of several chunks would keep the waiting ones from their names all that while.
    if (source->snapshot().size > kCopyChunk && nameCopies(pass) == Step::Stop)
        return Step::Stop;
    if (Step step = Step::Next; linkToCopy(pass, *source, name, &step))
        return step;
    m_log.WriteLog(QLatin1String("Copy ") + sourcePath + QLatin1String(" -> ") + destinationPath);
    CopyReport report;
    auto copy = std::make_unique<fs::StagedCopy>();
    const HeldCopy held{*source, pass.destination, *copy};
    const fs::CopyResult result = BinCopy(m_desktop, sourcePath, pass.destination.path(), true,
                                          CopyCaption(), &report, m_stillRunning, &held);
    if (!m_stillRunning())
        return Step::Stop;
    if (!result.ok()) {
        reportCopyFailure(pass, *source, result, report);
        return Step::Next;
    }
    reportAccess(pass, *source, *copy);
    // The copy holds what the source held when it was opened, which is what the register and
    // the statistics must describe once it has its name.
    if (m_unnamedCopies.empty()) {
        m_sinceFirstUnnamed.start();
        m_groupLimit = groupLimit();
    }
    m_unnamedCopies.push_back({std::move(source), std::move(copy), name});
    return Step::Next;
}

size_t Mover::groupLimit() const {
    // A group must never take the descriptors the rest of the program needs: at its limit the
    // window system's connection could not be opened and the program would hang.
    const qint64 left = fs::descriptorsLeft();
    if (left < 0)
        return kCopiesPerGroup;
    return std::clamp<size_t>(left > kDescriptorsKept ? size_t((left - kDescriptorsKept) / 3) : 0,
                              1, kCopiesPerGroup);
}

bool Mover::holdsFile(const fs::Snapshot& look) const {
    return std::any_of(m_unnamedCopies.cbegin(), m_unnamedCopies.cend(),
                       [&](const UnnamedCopy& unnamed) {
                           return fileKey(unnamed.source->snapshot()) == fileKey(look);
                       });
}

bool Mover::copiesDue() const {
    if (m_unnamedCopies.empty())
        return false;
    qint64 bytes = 0;
    for (const UnnamedCopy& unnamed : m_unnamedCopies)
        bytes += unnamed.copy->copied();
    return bytes >= kBytesPerGroup || m_sinceFirstUnnamed.elapsed() >= kGroupWaitMs ||
           m_unnamedCopies.size() >= m_groupLimit;
}

Step Mover::nameCopies(Pass& pass) {
    std::vector<UnnamedCopy> group = std::exchange(m_unnamedCopies, {});
    if (group.empty()) {
        flushDeletions(pass);
        return Step::Next;
    }
    // A destination whose stick was pulled meanwhile takes none of them: one line, not one per
    // file, and the files wait in the watched folder.
    if (m_guard.checkDestinationAway(pass.destination.path())) {
        m_log.WriteLog(QLatin1String("Copies discarded (") + QString::number(group.size()) +
                       QLatin1String("), the destination is gone; their files stay in '") +
                       pass.source.path() + QLatin1Char('\''));
        return Step::Stop;
    }
    // A watched folder renamed or swapped meanwhile is as much a change as the destination: a
    // copy named now would leave its source where the pass can no longer delete it, in two places.
    if (!pass.destination.stillThere() || !pass.source.stillThere()) {
        m_guard.reportFolderChanged(pass);
        return Step::Stop;
    }
    // One flush of the destination's file system writes out every copy of the group; where it
    // cannot vouch for that, each copy is flushed on its own before it gets its name.
    const bool durable = fs::flushFileSystemOf(pass.destination);
    fs::FolderFlushes named;
    std::vector<UnnamedCopy*> published;
    bool sourceMoved = false;
    for (UnnamedCopy& unnamed : group) {
        // Looked at again before each name, so that a folder renamed while the group is named
        // leaves the rest of its copies unnamed.
        if (!pass.source.stillThere()) {
            sourceMoved = true;
            break;
        }
        const fs::CopyResult result = unnamed.copy->publish(unnamed.name, &named, durable);
        if (result.ok()) {
            published.push_back(&unnamed);
            continue;
        }
        CopyReport report;
        report.bytes = unnamed.copy->copied();
        report.partialFile = unnamed.copy->partialPath();
        report.partialRemoved = unnamed.copy->discard();
        reportCopyFailure(pass, *unnamed.source, result, report);
    }
    // A source goes only once its copy's name is on disk.
    const int flushError = named.flush();
    Step step = Step::Next;
    for (UnnamedCopy* unnamed : published) {
        fs::HeldSource& source = *unnamed->source;
        const QString destinationPath = pass.destination.path() + unnamed->name;
        if (flushError != 0) {
            // The copy stands under its name but may be lost with a power cut: until a later
            // flush succeeds it is no twin that lets the source go.
            m_unconfirmed.insert(
                fileKey(source.snapshot()),
                {source.snapshot(), destinationPath, unnamed->copy->copied(), source.created()});
            m_log.WriteLog(QLatin1String("Source kept: '") + source.path() +
                           QLatin1String("', the name of its copy may not be on disk yet (") +
                           fs::errorText(flushError) + QLatin1Char(')'));
            continue;
        }
        m_record.recordMove(pass.soundFile, source.path(), destinationPath, unnamed->copy->copied(),
                            source.created());
        m_refusals.movedInto(pass);
        rememberLinkedCopy(pass, source, unnamed->name);
        // At the program's end the sources not deleted yet stay: their moves are recorded, so the
        // next start deletes them, and no deletion comes after the log's last line.
        if (step == Step::Next)
            step = m_stillRunning() ? deleteSource(pass, source) : Step::Stop;
    }
    flushDeletions(pass);
    if (sourceMoved && step == Step::Next) {
        m_guard.reportFolderChanged(pass);
        step = Step::Stop;
    }
    return step;
}

void Mover::flushDeletions(Pass& pass) {
    if (!std::exchange(m_sourcesDeleted, false))
        return;
    // Once per group, as after renames: else a power cut could bring a moved file back into the
    // watched folder, and it would arrive twice.
    if (const int error = pass.source.flush())
        m_log.WriteLog(
            QLatin1String("The watched folder '") + pass.source.path() +
            QLatin1String("' could not be flushed after its moved files were deleted (") +
            fs::errorText(error) + QLatin1Char(')'));
}

void Mover::rememberLinkedCopy(const Pass& pass, const fs::HeldSource& source,
                               const QString& name) {
    const fs::Snapshot& look = source.snapshot();
    if (look.links < 2)
        return;
    const std::optional<fs::Snapshot> copy = fs::lookAt(pass.destination, name);
    if (!copy)
        return;
    // Only the names of files this pass meets again matter; a bound keeps a long run small.
    if (m_linkedCopies.size() >= 10'000)
        m_linkedCopies.clear();
    m_linkedCopies.insert(fileKey(look), {pass.place, name, *copy, look.size, look.modifiedNs});
}

bool Mover::linkToCopy(Pass& pass, fs::HeldSource& source, const QString& name, Step* step) {
    const auto found = m_linkedCopies.constFind(fileKey(source.snapshot()));
    if (found == m_linkedCopies.constEnd() || found->place != pass.place)
        return false;
    const LinkedCopy linked = *found;
    // The copy must still be the one made of this very file, unchanged on both sides since;
    // a new name changes only its change time.
    const std::optional<fs::Snapshot> copy = fs::lookAt(pass.destination, linked.name);
    if (!copy || copy->device != linked.copy.device || copy->inode != linked.copy.inode ||
        copy->size != linked.copy.size || copy->modifiedNs != linked.copy.modifiedNs ||
        source.snapshot().size != linked.sourceSize ||
        source.snapshot().modifiedNs != linked.sourceModifiedNs) {
        m_linkedCopies.remove(fileKey(source.snapshot()));
        return false;
    }
    const QString destinationPath = pass.destination.path() + name;
    const QString copyPath = pass.destination.path() + linked.name;
    if (!pass.source.stillThere() || !pass.destination.stillThere()) {
        m_guard.reportFolderChanged(pass);
        *step = Step::Stop;
        return true;
    }
    if (const int error = pass.destination.linkInside(linked.name, name)) {
        if (fs::linksRefused(error)) {
            if (!m_linksRefusedReported.contains(pass.place)) {
                m_linksRefusedReported.insert(pass.place);
                m_log.WriteLog(QLatin1String("The destination '") + pass.destination.path() +
                               QLatin1String("' keeps no second names of a file: '") +
                               source.path() + QLatin1String("' and '") + copyPath +
                               QLatin1String("' were one file and are copied each (") +
                               fs::errorText(error) + QLatin1Char(')'));
            }
            m_linkedCopies.remove(fileKey(source.snapshot()));
        }
        return false;
    }
    // The new name on disk before its source goes.
    if (const int error = pass.destination.flush()) {
        m_waiting.holdBack(source.path(), QLatin1String("its second name in the destination may "
                                                        "not be on disk yet (") +
                                              fs::errorText(error) + QLatin1Char(')'));
        *step = Step::Next;
        return true;
    }
    m_log.WriteLog(QLatin1String("Link ") + source.path() + QLatin1String(" -> ") +
                   destinationPath + QLatin1String(" (one file with '") + copyPath +
                   QLatin1String("')"));
    m_record.recordMove(pass.soundFile, source.path(), destinationPath, source.snapshot().size,
                        source.created());
    m_refusals.movedInto(pass);
    *step = deleteSource(pass, source);
    return true;
}

void Mover::reportAccess(const Pass& pass, const fs::HeldSource& source,
                         const fs::StagedCopy& copy) {
    const fs::AccessCopy access = copy.access();
    if (access == fs::AccessCopy::Kept || m_accessReported.contains(pass.place))
        return;
    m_accessReported.insert(pass.place);
    m_log.WriteLog(
        access == fs::AccessCopy::AclReplacedByMode
            ? QLatin1String("The destination '") + pass.destination.path() +
                  QLatin1String("' keeps no access control lists: copies get a mode that grants "
                                "nobody more than their list did (first '") +
                  source.path() + QLatin1String("')")
            : QLatin1String("The destination '") + pass.destination.path() +
                  QLatin1String("' does not keep every extended attribute of a copy (first '") +
                  source.path() + QLatin1String("')"));
}

const Mover::Unconfirmed* Mover::unconfirmedCopyOf(const fs::HeldSource& source) const {
    const auto found = m_unconfirmed.constFind(fileKey(source.snapshot()));
    return found != m_unconfirmed.constEnd() ? &*found : nullptr;
}

void Mover::confirmCopyOf(Pass& pass, fs::HeldSource& source) {
    const Unconfirmed copy = m_unconfirmed.take(fileKey(source.snapshot()));
    m_record.recordMove(pass.soundFile, source.path(), copy.destinationPath, copy.size,
                        copy.created);
    m_refusals.movedInto(pass);
    deleteSource(pass, source);
}

Step Mover::deleteSource(Pass& pass, fs::HeldSource& source, bool alreadyCopied) {
    switch (DeleteSource(m_log, source, alreadyCopied)) {
        case fs::NameResult::Done:
            m_sourcesDeleted = true;
            return Step::Next;
        case fs::NameResult::FolderChanged:
            m_guard.reportFolderChanged(pass);
            return Step::Stop;
        case fs::NameResult::Failed:
            // Said once; the file is not tried again until it or its folder changes.
            m_refusals.remember(pass, source, Refusal::CannotDelete);
            return Step::Next;
        default:
            return Step::Next;
    }
}

void Mover::reportCopyFailure(Pass& pass, const fs::HeldSource& source,
                              const fs::CopyResult& result, const CopyReport& report) {
    const bool system = result.problem == fs::CopyProblem::System;
    // A refusal already said (this file's, or its destination's for every file) is not said
    // again, its copy's error line neither: a full quota must not fill the log.
    if (!system || !m_refusals.alreadySaid(pass, source, result.error) || !report.partialRemoved)
        WriteCopyError(m_log, result, report.partialRemoved, report.partialFile);
    if (system)
        m_refusals.rememberError(pass, source, result.error);
}

}  // namespace kw
