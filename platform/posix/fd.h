#pragma once

#include "platform/filehandle.h"

#include <QByteArray>
#include <QtGlobal>

namespace kw {

// Flushes an open folder, so that names made or removed in it survive a power cut. 0 or errno; a
// file system that cannot flush folders at all (EINVAL) counts as flushed.
int flushFolder(int folderFd);
// The folder that holds path: "." for a bare name, "/" for a name in the root.
QByteArray folderOf(const QByteArray& path);
// Opens the folder and flushes it, as flushFolder. 0 or errno.
int flushFolderAt(const QByteArray& folder);

// Writes every byte, going on after a signal or a short write. 0 or errno.
int writeAll(int fd, const char* data, long long count);

// Whether a file of size bytes fits onto a file system of the given type and blocks: 0, EFBIG
// or ENOSPC, as fs::roomFor.
int roomOnFileSystem(long type, qint64 blockSize, qint64 blocks, qint64 blocksFree, qint64 size,
                     qint64 data = -1);

// A time of the system as nanoseconds since the epoch.
long long nanosecondsOf(long long seconds, long nanoseconds);

}  // namespace kw

struct statx;
namespace kw::fs {
struct Facts;
// The facts the program keeps of what statx answered.
Facts toFacts(const struct statx& st);
}  // namespace kw::fs
