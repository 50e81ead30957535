#pragma once

#include <cerrno>

#include <unistd.h>

namespace kw {

// Owns one file descriptor and closes it when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = other.release();
        }
        return *this;
    }

    bool valid() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Flushes an open folder, so that names made or removed in it survive a power cut. 0 or errno; a
// file system that cannot flush folders at all (EINVAL) counts as flushed.
inline int flushFolder(int folderFd) {
    if (::fsync(folderFd) == 0 || errno == EINVAL)
        return 0;
    return errno;
}

}  // namespace kw
