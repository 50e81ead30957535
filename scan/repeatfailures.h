#pragma once

#include "core/problems.h"

#include <QHash>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kw {

class EventLog;
namespace fs {
class HeldFolder;
class HeldSource;
struct Snapshot;
}  // namespace fs

// Why the work on a file failed in a way that will fail again as long as neither the file nor
// the folders change.
enum class Refusal {
    NameRefused,   // the destination's file system does not take this name
    NameTooLong,   // the name, or the name with its number, is longer than a name may be
    TooLarge,      // the destination's file system takes no file this large
    NoSpace,       // not enough free space on the destination
    NoQuota,       // the user's disk quota there is used up, though the file system has room
    NoEntries,     // the destination's file system has no free file entries (inodes) left
    NoPermission,  // no permission to write or rename there, or a read-only file system
    NoFreeNumber,  // rule R found no free number from 001 to 999
    CannotDelete,  // the source may not be deleted from the watched folder
    Other,         // a rename of rule R failed for another reason
};

// The Refusal of a failed copy or rename (the platform's failure number), when it will repeat.
std::optional<Refusal> refusalOf(int error);
// The reason in plain words, for the log.
QString refusalText(Refusal refusal);

// One file's identity: another file under the name, or the file written to or its permissions
// changed, is a change.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};
FileIdentity identityOf(const fs::Snapshot& look);
FileIdentity identityOf(const fs::HeldSource& source);

// The destination as a pass finds it: another folder, or another file system mounted there, is
// a change.
struct DestinationPlace {
    QString folder;
    quint64 device = 0;
    bool operator==(const DestinationPlace&) const = default;
};
inline size_t qHash(const DestinationPlace& place, size_t seed = 0) {
    return qHashMulti(seed, place.folder, place.device);
}

// True for refusals that concern the whole destination, not the one file: said once for all the
// files they keep back.
bool refusesEveryFile(Refusal refusal);

// What a destination's refusals depend on: its free room, and how many files this program has
// moved into it. A failure is tried again once either has grown.
struct DestinationState {
    qint64 freeBytes = -1;
    qint64 freeEntries = -1;
    quint64 movedInto = 0;
};

// Failures that will repeat, remembered per file, so that such a file is neither tried nor
// logged every tick: it is tried again when it or the destination changes, when space or file
// entries have been freed or another file was moved there, when the destination may be written
// again, or after a back-off of some minutes.
class RepeatFailures {
public:
    static constexpr qint64 kBackOffMs = 10 * 60 * 1000;

    // True when the file failed before, nothing has changed since and the back-off runs.
    bool holdsBack(const QString& path, const FileIdentity& file, const DestinationPlace& place,
                   const fs::HeldFolder& destination, const DestinationState& now,
                   qint64 nowMs) const;
    // Remembers a failure, with the destination's state after it. True when it is news, so worth
    // a log line; false when this very file failed the same way at the same place before (a try
    // after the back-off, or after the destination changed).
    bool remember(const QString& path, const FileIdentity& file, const DestinationPlace& place,
                  Refusal refusal, const DestinationState& then, qint64 nowMs);
    // True when this file failed the same way at the same place before.
    bool known(const QString& path, const FileIdentity& file, const DestinationPlace& place,
               Refusal refusal) const;
    // Forgets files that are no longer in the watched folder.
    void keepOnly(const QStringList& paths);
    // The problems the remembered failures stand for, one per file.
    Problems problems() const;

private:
    struct Failure {
        FileIdentity file;
        DestinationPlace place;
        Refusal refusal = Refusal::Other;
        DestinationState then;
        qint64 atMs = 0;
    };
    QHash<QString, Failure> m_failures;
};

}  // namespace kw
