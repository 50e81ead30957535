#pragma once

#include "platform/filecopy.h"
#include "platform/filemove.h"
#include "scan/pass.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace kw {

class Desktop;
class EventLog;
class FileDecision;
class FolderGuard;
class Record;
class Refusals;
class WaitingFiles;

// The caption of a new file's progress window.
QString CopyCaption();
struct CopyReport;

// Moves a file that the decision found new into the destination: by a rename where both folders
// lie on one file system, else by a staged copy whose name it gives together with the other
// copies of a group, after one flush for all of them; only then are the sources deleted. It
// touches the two held folders of the pass, and through the record the register and statistics.
class Mover {
public:
    Mover(EventLog& log, Desktop& desktop, Record& record, Refusals& refusals,
          WaitingFiles& waiting, FolderGuard& guard, std::function<bool()> stillRunning);

    Step moveNewFile(Pass& pass, std::unique_ptr<fs::HeldSource> source, const QString& name);
    // Names the copies that wait under their temporary names, then deletes their sources. A pass
    // whose folders changed meanwhile discards them instead.
    Step nameCopies(Pass& pass);
    // Discards the waiting copies; their sources stay as they are.
    void discardCopies() { m_unnamedCopies.clear(); }
    bool copiesDue() const;
    // True when a copy waiting for its name holds the file look shows (another name of it).
    bool holdsFile(const fs::Snapshot& look) const;
    // Flushes the folders of the renames of a burst. 0 or errno.
    int flushRenames() { return m_renamed.flush(); }
    // Flushes the watched folder once when sources were deleted since the last time.
    void flushDeletions(Pass& pass);

    // A copy whose name could not be made durable: the source it was made from, as it was, and
    // what its register line needs.
    struct Unconfirmed {
        fs::Snapshot source;
        QString destinationPath;
        qint64 size = 0;
        QDateTime created;
    };
    // The copy made of source whose name is not known to be on disk yet, or null.
    const Unconfirmed* unconfirmedCopyOf(const fs::HeldSource& source) const;
    // A later flush of its folder has succeeded: the copy of source is recorded and the source
    // deleted as after any move.
    void confirmCopyOf(Pass& pass, fs::HeldSource& source);
    // Deletes a moved or duplicate source with its log line; a failure that will repeat is
    // remembered, and a watched folder that changed stops the pass.
    Step deleteSource(Pass& pass, fs::HeldSource& source, bool alreadyCopied = true);

private:
    Step copyNewFile(Pass& pass, std::unique_ptr<fs::HeldSource> source, const QString& name);
    // A further name of a file whose copy stands in the destination becomes a further name of
    // that copy. False when it cannot (the copy changed, links refused): the name is copied.
    bool linkToCopy(Pass& pass, fs::HeldSource& source, const QString& name, Step* step);
    // Remembers the copy of a source with more than one name, for its other names.
    void rememberLinkedCopy(const Pass& pass, const fs::HeldSource& source, const QString& name);
    void reportCopyFailure(Pass& pass, const fs::HeldSource& source, const fs::CopyResult& result,
                           const CopyReport& report);
    size_t groupLimit() const;
    // Says once per destination what its file system could not keep of a copy's access.
    void reportAccess(const Pass& pass, const fs::HeldSource& source, const fs::StagedCopy& copy);

    EventLog& m_log;
    Desktop& m_desktop;
    Record& m_record;
    Refusals& m_refusals;
    WaitingFiles& m_waiting;
    FolderGuard& m_guard;
    std::function<bool()> m_stillRunning;
    fs::FolderFlushes m_renamed;
    // Copies of the running pass that are whole under their temporary names, their sources still
    // held: named in groups, so that a burst costs one flush per group, not two per file.
    struct UnnamedCopy {
        std::unique_ptr<fs::HeldSource> source;
        std::unique_ptr<fs::StagedCopy> copy;
        QString name;
    };
    std::vector<UnnamedCopy> m_unnamedCopies;
    QElapsedTimer m_sinceFirstUnnamed;
    size_t m_groupLimit = 1;
    QHash<std::pair<quint64, quint64>, Unconfirmed> m_unconfirmed;
    QSet<DestinationPlace> m_accessReported;
    bool m_sourcesDeleted = false;  // since the watched folder was last flushed
    // Copies of files with several names, by the source's device and inode: a later name of the
    // same file is linked to its copy, as long as neither has changed.
    struct LinkedCopy {
        DestinationPlace place;
        QString name;
        fs::Snapshot copy;
        qint64 sourceSize = 0;
        qint64 sourceModifiedNs = 0;
    };
    QHash<std::pair<quint64, quint64>, LinkedCopy> m_linkedCopies;
    QSet<DestinationPlace> m_linksRefusedReported;
};

}  // namespace kw
