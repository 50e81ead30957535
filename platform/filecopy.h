#pragma once

#include "platform/accesscopy.h"
#include "platform/filehandle.h"
#include "platform/filemove.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// Copying and comparing file contents. Each step answers with a named problem; what the log
// shows for one is decided above this layer (scan/failure.h).
namespace kw::fs {

enum class CopyProblem {
    None,
    SourceMissing,           // no regular file under the source's name
    FolderNotCreated,        // the destination folder is missing and cannot be made
    NameTaken,               // a file of that name is there: nothing was replaced
    SourceChanged,           // the source ended early, grew, was rewritten or was replaced
    SourceOpenedForWriting,  // a program opened the source for writing: the copy stands back
    Interrupted,             // stopped on request
    System,                  // a system call failed: CopyResult::error tells which
};

// A CopyProblem, with the system's error number where the system said why.
struct CopyResult {
    CopyProblem problem = CopyProblem::None;
    int error = 0;

    bool ok() const { return problem == CopyProblem::None; }
    // The answer of a system call: 0 is None, EEXIST NameTaken, any other number System.
    static CopyResult ofError(int error);
};

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
// another: in the kernel where it can, else through a buffer. SourceChanged when the source ends
// before count bytes.
CopyResult CopyBytes(qint64 count, int sourceFd, int destinationFd);

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

    // Opens the source and creates the temporary file in folder.
    CopyResult begin(const QString& source, const QString& folder);
    // The same for a source held by the caller, which must outlive the copy.
    CopyResult begin(const HeldSource& source, const QString& folder);
    // The same into a folder held by the caller: the copy is made and named in that very folder.
    CopyResult begin(const HeldSource& source, const HeldFolder& folder);
    // The source's size when it was opened.
    qint64 sourceSize() const { return m_source ? m_source->snapshot().size : 0; }
    // The bytes of data the source holds, its holes not counted: the room its copy takes.
    qint64 sourceData() const;
    qint64 copied() const { return m_copied; }
    // Copies count more bytes, unless the source was written to or opened for writing since it
    // was opened. Holes of the source stay holes in the copy.
    CopyResult copy(qint64 count);
    // Proves the copy (every byte copied, the source unchanged and still under its name, the copy
    // as long as the source), gives it the source's permission bits and times, flushes it and
    // names it name in the folder without replacing anything there (NameTaken when that name
    // exists).
    CopyResult commit(const QString& name);
    // commit() in two steps, so that the copies of a burst share their flushes: complete() after
    // the last byte gives the copy the source's owner, permission bits and times; publish()
    // proves it and the source again, flushes it unless flushFileSystemOf() made it durable
    // since it was completed, and names it. With batch its folder is flushed when the batch is,
    // which must succeed before the source may go.
    CopyResult complete();
    // What complete() could not give the copy of the source's access list and attributes.
    AccessCopy access() const { return m_access; }
    CopyResult publish(const QString& name, FolderFlushes* batch, bool durable = false);
    // Removes the temporary file. True when it is gone (or was never made).
    bool discard();
    // The temporary file while there is one, else empty.
    QString partialPath() const;

private:
    CopyResult beginIn(const HeldSource& source, Fd folder, const QByteArray& folderPath);
    CopyResult sourceState() const;

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

struct Comparison {
    enum class Verdict {
        Equal,
        Different,  // also when other is no regular file (a link is never followed)
        SameFile,   // other is the source itself (a hard link, or the same folder reached twice)
        Unknown,    // see problem: the source changed or was opened for writing, the comparison
                    // was interrupted, or other could not be opened or read
    };
    Verdict verdict = Verdict::Unknown;
    CopyResult problem;
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
