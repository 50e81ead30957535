#pragma once

#include "platform/filehandle.h"
#include "platform/fs.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

namespace kw::fs {

// A folder held open for a whole pass. Every look-up, comparison, copy, rename and deletion of
// the pass works relative to it, so a folder swapped under the running pass (a link put in its
// place, a bind mount over it, a stick pulled) cannot redirect a step: at worst the pass notices
// that its path leads elsewhere now and stops.
class HeldFolder {
public:
    HeldFolder() = default;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;

    // Opens the folder that path names, following links as a folder setting means them. 0 or
    // errno.
    int open(const QString& path);
    void close();

    bool isOpen() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    // As given to open(), with one trailing "/".
    const QString& path() const { return m_path; }
    quint64 device() const { return m_device; }
    quint64 inode() const { return m_inode; }

    // True while the path still leads to this very folder. A folder replaced by another or by a
    // link, a bind mount over it, and a file system unmounted under it (also lazily, which keeps
    // the held folder alive but detached) all answer false.
    bool stillThere() const;
    // Same device and inode: the same folder, whatever the spelling, links or bind mounts.
    bool sameAs(const HeldFolder& other) const;
    // True when this folder lies somewhere below other, as ".." leads up from it.
    bool isBelow(const HeldFolder& other) const;

    // Names of the regular files directly inside, in the file system's order (no folders, links,
    // FIFOs, sockets, devices); nullopt with errno in error when the folder cannot be read.
    std::optional<QList<QByteArray>> regularFileNames(int* error = nullptr) const;
    // Writes the folder's entries to disk. 0 or errno.
    int flush() const;

    // Facts of the entry name inside, a link reported as Other, never followed.
    std::optional<Facts> factsOf(const QString& name, int* error = nullptr) const;
    // Renames an entry inside the folder without replacing anything. 0, or errno (EEXIST when to
    // is taken).
    int renameInside(const QString& from, const QString& to) const;
    // Gives the file existing inside the folder a second name, name, without replacing anything.
    // 0, or errno (EEXIST when name is taken; linksRefused() tells a file system without links).
    int linkInside(const QString& existing, const QString& name) const;
    // As fs::roomFor, for this folder; with data, the space needed is that of a file holding
    // only data bytes (the rest holes), the largest file size still size.
    int roomFor(qint64 size, qint64 data = -1) const;
    // True when a file could be made here now: the file system is mounted writable and this
    // process may write into the folder.
    bool writable() const;
    // What the file system has free for this process: bytes, and file entries (inodes); -1 each
    // where it cannot tell or keeps no count.
    struct FreeRoom {
        qint64 bytes = -1;
        qint64 entries = -1;
        bool operator==(const FreeRoom&) const = default;
    };
    FreeRoom freeRoom() const;

private:
    Fd m_fd;
    QString m_path;
    quint64 m_device = 0;
    quint64 m_inode = 0;
};

// True when a failure of linkInside means that the file system keeps no second names (or no more
// of them for that file), so that each name must be a copy of its own.
bool linksRefused(int error);

// True when the two folders are the same or one lies inside the other; false also when either
// cannot be opened.
bool foldersOverlap(const QString& first, const QString& second);

// A folder as it stands now: its device and inode, then those of each folder above it up to the
// root, as ".." leads. Taken once, it answers many overlap questions without opening anything.
struct FolderLineage {
    QList<std::pair<quint64, quint64>> ids;  // empty when the folder cannot be opened
    // The same folder as other, or one lies inside the other; false when either is empty.
    bool overlaps(const FolderLineage& other) const;
};
FolderLineage lineageOf(const QString& path);

}  // namespace kw::fs
