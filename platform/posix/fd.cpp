#include "platform/posix/fd.h"

#include <fcntl.h>
#include <unistd.h>

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
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : path.left(slash);
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

}  // namespace kw
