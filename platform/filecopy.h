#pragma once

#include "platform/accesscopy.h"
#include "platform/filehandle.h"
#include "platform/filemove.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// Copying and comparing file contents. Failures are errno values (0 is success), plus the copy's
// own two below, which are negative so they cannot be taken for one. What the log shows for
// either is decided above this layer (scan/failure.h).
namespace kw::fs {

// The source ended early, grew, was rewritten or was replaced while it was copied.
inline constexpr int kCopySourceChanged = -1;
// A program opened the source for writing while it was copied: the copy stands back.
inline constexpr int kCopySourceOpenedForWriting = -2;

// Hidden name of a copy in progress: partialPrefix() + random + suffix, in the destination
// folder.
inline constexpr char kPartialPrefix[] = ".Kopierwart-";
inline constexpr char kPartialSuffix[] = ".part";
// The mark of this installation, so that leftovers it removes are its own temporary copies and
// never a user's file or another installation's copy in progress. Set once at start-up.
void setPartialMark(const QByteArray& mark);
// kPartialPrefix, then the mark and "-" when one is set.
QByteArray partialPrefix();

// Copies count bytes from the current position of one open file to the current position of
// another: in the kernel where it can, else through a buffer. 0, errno, or kCopySourceChanged when
// the source ends before count bytes.
int CopyBytes(qint64 count, int sourceFd, int destinationFd);

// One file copied into a folder under a hidden temporary name, readable by its owner only while
// it fills. The copy gets its real name, with the source's permission bits and times, only when
// the whole, unchanged source is on disk, so no reader ever sees a partial file under that name.
// A copy that is not committed removes its temporary file, and only that.
class StagedCopy {
public:
    StagedCopy() = default;
    ~StagedCopy();
    StagedCopy(const StagedCopy&) = delete;
    StagedCopy& operator=(const StagedCopy&) = delete;

    // Opens the source and creates the temporary file in folder. 0 or errno.
    int begin(const QString& source, const QString& folder);
    // The same for a source held by the caller, which must outlive the copy.
    int begin(const HeldSource& source, const QString& folder);
    // The same into a folder held by the caller: the copy is made and named in that very folder.
    int begin(const HeldSource& source, const HeldFolder& folder);
    // The source's size when it was opened.
    qint64 sourceSize() const { return m_source ? m_source->snapshot().size : 0; }
    qint64 copied() const { return m_copied; }
    // Copies count more bytes, unless the source was written to or opened for writing since it
    // was opened. 0, errno, kCopySourceChanged or kCopySourceOpenedForWriting.
    int copy(qint64 count);
    // Proves the copy (every byte copied, the source unchanged and still under its name, the copy
    // as long as the source), gives it the source's permission bits and times, flushes it and
    // names it name in the folder without replacing anything there. 0, EEXIST when that name
    // exists, kCopySourceChanged, kCopySourceOpenedForWriting, or errno.
    int commit(const QString& name);
    // commit() in two steps, so that the copies of a burst share their flushes: complete() after
    // the last byte gives the copy the source's owner, permission bits and times; publish()
    // proves it and the source again, flushes it unless flushFileSystemOf() made it durable
    // since it was completed, and names it. With batch its folder is flushed when the batch is,
    // which must succeed before the source may go.
    int complete();
    // What complete() could not give the copy of the source's access list and attributes.
    AccessCopy access() const { return m_access; }
    int publish(const QString& name, FolderFlushes* batch, bool durable = false);
    // Removes the temporary file. 0 when it is gone (or was never made), else errno.
    int discard();
    // The temporary file while there is one, else empty.
    QString partialPath() const;

private:
    int beginIn(const HeldSource& source, Fd folder, const QByteArray& folderPath);
    int sourceState() const;

    QByteArray m_folder;
    QByteArray m_partialName;
    HeldSource m_ownSource;
    const HeldSource* m_source = nullptr;
    Fd m_folderFd;
    Fd m_partial;
    bool m_partialExists = false;
    bool m_completed = false;
    AccessCopy m_access = AccessCopy::Kept;
    qint64 m_copied = 0;
};

enum class Comparison {
    Equal,
    Different,  // also when other is no regular file (a link is never followed)
    SameFile,   // other is the source itself (a hard link, or the same folder reached twice)
    Failed,     // other could not be opened or read: nothing is known
    Interrupted,
    SourceChanged,  // the source was written to or opened for writing meanwhile
};
// Compares a held source with the file other, over the whole file. afterChunk runs after every
// 1,024,000 bytes; when it answers false the comparison stops with Interrupted.
Comparison compareContents(const HeldSource& source, const HeldFolder& folder,
                           const QString& otherName, const std::function<bool()>& afterChunk = {});

// Writes out everything the file system that holds folder has not written yet, in one go. True
// when that made every file there durable, so that none needs a flush of its own: on file
// systems whose own flush commits their journal or log to the disk (ext4, XFS, Btrfs, F2FS) and
// on tmpfs, which keeps nothing on a disk. Elsewhere (FAT, exFAT, FUSE, network shares) such a
// flush may stop short of the disk, and each file is flushed on its own.
bool flushFileSystemOf(const HeldFolder& folder);

}  // namespace kw::fs
