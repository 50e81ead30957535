#include "platform/writers.h"

#include "platform/posix/fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kw::fs {
namespace {

bool isNumber(const char* name) {
    if (*name == 0)
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

// The access mode of one open file from its fdinfo ("flags:\t0100002"); -1 when unreadable.
int accessModeOf(int fdinfoFolder, const char* fd) {
    Fd info(::openat(fdinfoFolder, fd, O_RDONLY | O_CLOEXEC));
    if (!info.valid())
        return -1;
    char text[256];
    ssize_t n;
    do
        n = ::read(info.get(), text, sizeof text - 1);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return -1;
    text[n] = 0;
    const char* flags = std::strstr(text, "flags:");
    if (!flags)
        return -1;
    return int(std::strtoul(flags + 6, nullptr, 8) & O_ACCMODE);
}

}  // namespace

WritersSnapshot WritersSnapshot::take() {
    WritersSnapshot snapshot;
    Fd procFd(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* proc = procFd.valid() ? ::fdopendir(procFd.release()) : nullptr;
    if (!proc) {
        snapshot.m_sawEveryProcess = false;
        return snapshot;
    }
    // The first process is root's: where this user may not look into its files (or /proc hides
    // other users' processes), the snapshot cannot have seen every writer.
    bool sawFirst = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (!isNumber(entry->d_name))
            continue;
        const QByteArray pid(entry->d_name);
        Fd fds(
            ::openat(::dirfd(proc), (pid + "/fd").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        Fd fdinfo(::openat(::dirfd(proc), (pid + "/fdinfo").constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fds.valid() || !fdinfo.valid()) {
            // A process that ended meanwhile had nothing open; one we may not look into might.
            if (errno != ENOENT)
                snapshot.m_sawEveryProcess = false;
            continue;
        }
        sawFirst = sawFirst || pid == "1";
        ++snapshot.m_processes;
        DIR* list = ::fdopendir(fds.get());
        if (!list)
            continue;
        fds.release();
        while (const dirent* fd = ::readdir(list)) {
            if (!isNumber(fd->d_name))
                continue;
            const int mode = accessModeOf(fdinfo.get(), fd->d_name);
            if (mode != O_WRONLY && mode != O_RDWR)
                continue;
            // Following the link leads to the open file itself, wherever its name went.
            struct stat st {};
            if (::fstatat(::dirfd(list), fd->d_name, &st, 0) != 0) {
                if (errno != ENOENT)
                    snapshot.m_sawEveryProcess = false;
            } else if (S_ISREG(st.st_mode)) {
                snapshot.m_written.insert(qMakePair(quint64(st.st_dev), quint64(st.st_ino)));
            }
        }
        ::closedir(list);
    }
    ::closedir(proc);
    snapshot.m_sawEveryProcess = snapshot.m_sawEveryProcess && sawFirst;
    return snapshot;
}

bool WritersSnapshot::writtenAt(int fd) const {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && written(quint64(st.st_dev), quint64(st.st_ino));
}

}  // namespace kw::fs
