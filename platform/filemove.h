#pragma once

#include "platform/filehandle.h"
#include "platform/heldfolder.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <memory>
#include <optional>

// The source side of a move: a file held open from the moment its move is decided until its name
// is gone, so that whatever is copied, compared or deleted is provably the file that was looked
// at, and a program that opens it for writing makes the move stand back.
namespace kw::fs {

// How a source file can be held.
enum class Hold {
    Leased,          // open with a read lease: no program has it open for writing, and a program
                     // that opens it for writing breaks the lease, which is given up at once
    Unleased,        // open, but no lease: not this user's file, or a file system without leases
    OpenForWriting,  // a program holds it open for writing; nothing may be done with it now
    Locked,          // open, but another process holds its lock (another Kopierwart moving it):
                     // the caller leaves it, unless that holder is itself
    Gone,            // no regular file of that name (vanished, a link, a folder)
    Failed,          // it cannot be opened (error() tells why)
};

// One look at a file. Two equal snapshots of one file mean nothing was written in between:
// a write changes the modification time, and so does anything that touches the inode (a chmod,
// a rename, a truncation) to the change time, which no program can set back.
struct Snapshot {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    unsigned mode = 0;  // permission bits
    unsigned owner = 0;
    unsigned group = 0;
    qint64 accessedNs = 0;  // nanoseconds since the epoch
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    quint32 links = 0;  // names the file has; a change of them changes the change time too
    // Without the access time, which reading the file changes.
    bool operator==(const Snapshot& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               mode == other.mode && owner == other.owner && group == other.group &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

// A look at the regular file name in folder without opening it, a link never followed; nullopt
// when there is no regular file of that name or it cannot be looked at. Equal to the snapshot
// a HeldSource takes of the same, unchanged file.
std::optional<Snapshot> lookAt(const HeldFolder& folder, const QString& name);

// How removing or renaming a held file's name ended.
enum class NameResult {
    Done,
    Changed,            // written to, replaced under its name, or renamed meanwhile: left alone
    OpenedForWriting,   // a program opened it for writing: left alone
    Gone,               // the name is no longer there
    FolderChanged,      // a held folder's path no longer leads to it: nothing was done
    DestinationExists,  // (renames) the destination name is taken: nothing replaced
    NeedsCopy,          // (renames) source and destination lie on different mounts, or the file
                        // system cannot rename without replacing: copy instead
    Failed,             // error() tells why
};

// Folders whose entries renames changed, flushed together: a burst of a thousand renames costs one
// flush per folder, not two per file. After a power cut a rename is whole or not done either way;
// the flush only bounds how much of a burst the disk may not know yet. The folders are kept open
// here, so the flush reaches the very folders that were changed.
class FolderFlushes {
public:
    FolderFlushes() = default;
    FolderFlushes(const FolderFlushes&) = delete;
    FolderFlushes& operator=(const FolderFlushes&) = delete;
    ~FolderFlushes() { flush(); }

    void add(const HeldFolder& folder) { add(folder.fd()); }
    // A folder open as folderFd (kept open here as a descriptor of its own).
    void add(int folderFd);
    // 0 when every folder was flushed, else the first failure's errno.
    int flush();

private:
    QHash<std::pair<quint64, quint64>, std::shared_ptr<Fd>> m_folders;
    int m_addError = 0;  // a folder that could not be kept for its flush
};

class HeldSource {
public:
    HeldSource() = default;
    HeldSource(const HeldSource&) = delete;
    HeldSource& operator=(const HeldSource&) = delete;

    // Opens the file name in folder for reading, never following a link, and tries for a read
    // lease. The file stays open for Leased, Unleased, OpenForWriting and Locked; for the first
    // two it holds the file's exclusive advisory lock, so that no other process that asks for it
    // moves the file at the same time. The folder must outlive this file's use.
    Hold open(const HeldFolder& folder, const QString& name);
    // The same for a path: its folder is held by this file.
    Hold open(const QString& path);
    // Closes the file, which gives up the lease.
    void release();

    int fd() const { return m_fd.get(); }
    const QString& path() const { return m_path; }
    const QString& name() const { return m_name; }
    const QByteArray& nativeName() const { return m_native; }
    const HeldFolder& folder() const { return *m_folder; }
    // The look taken when the file was opened.
    const Snapshot& snapshot() const { return m_snapshot; }
    // Birth time where the file system keeps one, else last write; UTC, whole seconds.
    const QDateTime& created() const { return m_created; }
    int error() const { return m_error; }

    // True while no program has opened the file for writing since it was opened here (the lease
    // holds) and the file is as it was then.
    bool undisturbed() const;
    // True once a program has opened the file for writing (its lease is breaking).
    bool openedForWriting() const;
    // Changed or OpenedForWriting when the file is no longer as it was opened; Done when it is.
    NameResult check() const;
    // True when its name in its held folder still names this very file (same device and inode,
    // no link followed).
    bool stillNamed() const;
    // Whether the file still holds space reserved for data not yet written (as a download that
    // allocated its whole size first and fills it piece by piece does): Yes, No, or Unknown
    // where the file system cannot tell. Plain holes are not reserved space. A file system may
    // show reserved space as unwritten until the data written into it reaches the disk: with
    // confirmed, a Yes is asked again after that.
    enum class Reserved { No, Yes, Unknown };
    Reserved reservedUnwritten(bool confirmed) const;
    // Removes the name, but only while its folder is still where its path leads and the name
    // still names this very file, unchanged.
    NameResult removeName();
    // Gives the file the name name in the folder destination by a rename that never replaces a
    // file. Done only when the very file that was held, unchanged, now has that name and the
    // rename is on disk. A program that opened the file for writing meanwhile gets it back under
    // its old name. With batch, both folders are flushed when the batch is, not before this
    // returns.
    NameResult moveTo(const HeldFolder& destination, const QString& name,
                      FolderFlushes* batch = nullptr);

private:
    HeldFolder m_ownFolder;
    const HeldFolder* m_folder = &m_ownFolder;
    QString m_path;
    QString m_name;
    QByteArray m_native;  // the name's bytes
    Fd m_fd;
    bool m_leased = false;
    Snapshot m_snapshot;
    QDateTime m_created;
    int m_error = 0;
};

}  // namespace kw::fs
