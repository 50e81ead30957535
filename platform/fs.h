#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// The file system as the rest of the program sees it: paths are QStrings that carry undecodable
// name bytes as escapes (textcodec.h). Failures are the system's error numbers (0 is success):
// callers learn what one means from problemOf() and pass the number on only to the log.
namespace kw::fs {

// What a failure means to the program.
enum class Problem {
    None,          // no failure
    Exists,        // the name is taken
    Missing,       // no such file or folder
    NameRefused,   // the file system does not take this name (characters it cannot store)
    NameTooLong,   // the name or path is longer than the file system takes
    TooLarge,      // the file system takes no file that large
    NoSpace,       // no space left (or no free file entries: HeldFolder::freeRoom tells)
    NoQuota,       // the user's disk quota is used up, whatever the file system has free
    NoPermission,  // not allowed, or a read-only file system
    Other,
};
Problem problemOf(int error);

enum class Kind { Regular, Directory, Other };

struct Facts {
    Kind kind = Kind::Other;
    qint64 size = 0;
    qint64 modifiedNs = 0;  // last write, nanoseconds since the epoch
    QDateTime created;      // birth time where the file system keeps one, else last write; UTC
};

// Facts of the file itself; a symbolic link is reported as Other, never followed.
std::optional<Facts> facts(const QString& path, int* error = nullptr);
// Facts of what the path names, following symbolic links.
std::optional<Facts> factsFollowingLinks(const QString& path, int* error = nullptr);

bool isDirectory(const QString& path);
// A regular file (links followed) that this process may open for reading.
bool isReadableFile(const QString& path);

// Names of the regular files directly in folder (no folders, links, FIFOs, sockets, devices),
// in the order the file system returns them; nullopt when the folder cannot be read.
std::optional<QStringList> regularFileNames(const QString& folder);
// Names in folder that start with prefix, whatever their kind.
QStringList namesStartingWith(const QString& folder, const QString& prefix);

// The bytes of a regular file (links followed); anything else, a FIFO too, is refused at once.
std::optional<QByteArray> readAll(const QString& path, int* error = nullptr);
// The same for the first count bytes only (fewer when the file is shorter).
std::optional<QByteArray> readStart(const QString& path, qint64 count, int* error = nullptr);
// Writes bytes beside path, flushes them and renames them over it, so readers and a power cut see
// the old or the new file, never a half-written one. The new file keeps the old one's permission
// bits. Where path is a symbolic link, the file it leads to is replaced in its own folder and the
// link stays; so for replaceThroughSpare, whose spare then goes beside that file.
int replaceAtomically(const QString& path, QByteArrayView bytes);
// For a file rewritten many times a second: the bytes go over the blocks of the spare file beside
// it and the two names are exchanged, so the file system neither allocates nor frees blocks for a
// rewrite, and readers see the old or the new content. Nothing is flushed: after a power cut the
// file may hold older or partly written content. The spare then holds the previous content.
int replaceThroughSpare(const QString& path, const QString& sparePath, QByteArrayView bytes);
int append(const QString& path, QByteArrayView bytes);
// Makes the file writable for its owner before removing it, as a user who clears the
// read-only flag would; removes files only, never folders.
int removeFile(const QString& path);
int makePath(const QString& folder);
// Renames without replacing, on every file system (see posix/norename.h for what holds where the
// file system cannot refuse a taken name itself): Exists when to is taken, NameRefused when the
// file system refuses the name.
int renameNoReplace(const QString& from, const QString& to);
// Whether a file of size bytes fits into folder before a byte is copied: 0; TooLarge when its file
// system takes no file that large (FAT: 4 GiB); NoSpace when it lacks the space and a small
// reserve (1 %, at most 64 MiB) that stays free for other programs; or another failure.
int roomFor(const QString& folder, qint64 size);
// The device number of the file system that holds path (links followed); 0 when unknown.
quint64 deviceOf(const QString& path);
// Resolves links and "..", so two spellings of one folder compare equal; empty on failure.
QString canonicalPath(const QString& path);
bool isWritableFolder(const QString& folder);
// The folder where the file system that holds path is mounted (links resolved), as the mount
// table of this process says now; empty when path does not exist or the table cannot be read.
QString mountPointOf(const QString& path);
// The mount points a mount table in the form of /proc/self/mountinfo lists, in its order, with
// the table's octal escapes (\040 for a blank) turned back into their bytes.
QList<QByteArray> mountPointsIn(const QByteArray& mountTable);

QString errorText(int error);

}  // namespace kw::fs
