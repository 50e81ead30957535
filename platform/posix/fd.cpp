#include "platform/posix/fd.h"

#include "platform/pathname.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kw {

void Fd::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int flushFolder(int folderFd) {
    if (::fsync(folderFd) == 0 || errno == EINVAL)
        return 0;
    return errno;
}

QByteArray folderOf(const QByteArray& path) {
    const PathName folder = PathName::fromNative(path).folder();
    return folder.isEmpty() ? QByteArray(".") : folder.native();
}

int flushFolderAt(const QByteArray& folder) {
    const Fd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.valid() ? flushFolder(fd.get()) : errno;
}

int writeAll(int fd, const char* data, long long count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, size_t(count));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        count -= n;
    }
    return 0;
}

long long nanosecondsOf(long long seconds, long nanoseconds) {
    return seconds * 1'000'000'000 + nanoseconds;
}

int roomOnFileSystem(long type, qint64 blockSize, qint64 blocks, qint64 blocksFree, qint64 size,
                     qint64 data) {
    // FAT keeps sizes in 32 bits; the other file systems take files far larger than any disk.
    constexpr qint64 kFatLargestFile = 0xFFFFFFFFLL;
    if (type == MSDOS_SUPER_MAGIC && size > kFatLargestFile)
        return EFBIG;
    // A small reserve stays free, so that a copy never fills the disk for the other programs.
    const qint64 reserve = std::min<qint64>(blocks * blockSize / 100, 64LL << 20);
    // A file with holes takes only the room of its data, as its copy keeps the holes.
    const qint64 needed = data >= 0 ? std::min(data, size) : size;
    const qint64 blocksNeeded = (needed + reserve + blockSize - 1) / blockSize;
    return blocksFree >= blocksNeeded ? 0 : ENOSPC;
}

}  // namespace kw
