#include "platform/heldfolder.h"

#include "platform/fstraits.h"
#include "platform/pathname.h"
#include "platform/posix/fd.h"
#include "platform/posix/norename.h"
#include "platform/textcodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>

namespace kw::fs {
namespace {

bool identityOf(int fd, quint64* device, quint64* inode) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    *device = st.st_dev;
    *inode = st.st_ino;
    return true;
}

}  // namespace

int HeldFolder::open(const QString& path) {
    close();
    m_fd = Fd(::open(encodeLocal(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_fd.valid())
        return errno;
    if (!identityOf(m_fd.get(), &m_device, &m_inode)) {
        const int error = errno;
        close();
        return error;
    }
    m_path = PathName(path).asFolder().text();
    return 0;
}

void HeldFolder::close() {
    m_fd = Fd();
    m_path.clear();
    m_device = m_inode = 0;
}

bool HeldFolder::stillThere() const {
    struct stat byPath {};
    return m_fd.valid() && ::stat(encodeLocal(m_path).constData(), &byPath) == 0 &&
           S_ISDIR(byPath.st_mode) && byPath.st_dev == m_device && byPath.st_ino == m_inode;
}

bool HeldFolder::sameAs(const HeldFolder& other) const {
    return isOpen() && other.isOpen() && m_device == other.m_device && m_inode == other.m_inode;
}

bool HeldFolder::isBelow(const HeldFolder& other) const {
    if (!isOpen() || !other.isOpen())
        return false;
    Fd current(::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 0));
    quint64 device = m_device, inode = m_inode;
    // The root is its own parent; a path of a few hundred levels is deeper than any real one.
    for (int depth = 0; current.valid() && depth < 512; ++depth) {
        Fd parent(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        quint64 parentDevice = 0, parentInode = 0;
        if (!parent.valid() || !identityOf(parent.get(), &parentDevice, &parentInode))
            return false;
        if (parentDevice == device && parentInode == inode)
            return false;
        if (parentDevice == other.m_device && parentInode == other.m_inode)
            return true;
        device = parentDevice;
        inode = parentInode;
        current = std::move(parent);
    }
    return false;
}

std::optional<QList<QByteArray>> HeldFolder::regularFileNames(int* error) const {
    // A descriptor of its own, as the directory stream takes it over and reads from its offset.
    const int own = ::openat(m_fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = own >= 0 ? ::fdopendir(own) : nullptr;
    if (!dir) {
        if (error)
            *error = errno;
        if (own >= 0)
            ::close(own);
        return std::nullopt;
    }
    QList<QByteArray> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(own, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_REG)
            names.append(QByteArray(entry->d_name));
        errno = 0;
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0) {
        if (error)
            *error = readError;
        return std::nullopt;
    }
    if (error)
        *error = 0;
    return names;
}

int HeldFolder::flush() const {
    return flushFolder(m_fd.get());
}

std::optional<Facts> HeldFolder::factsOf(const QString& name, int* error) const {
    struct statx st {};
    if (::statx(m_fd.get(), encodeLocal(name).constData(), AT_SYMLINK_NOFOLLOW,
                STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    if (error)
        *error = 0;
    return toFacts(st);
}

int HeldFolder::renameInside(const QString& from, const QString& to) const {
    return renameWithoutReplacing(m_fd.get(), encodeLocal(from).constData(), m_fd.get(),
                                  encodeLocal(to).constData());
}

int HeldFolder::linkInside(const QString& existing, const QString& name) const {
    // linkat never replaces a name, and never follows a link at existing.
    if (::linkat(m_fd.get(), encodeLocal(existing).constData(), m_fd.get(),
                 encodeLocal(name).constData(), 0) != 0)
        return errno;
    return 0;
}

bool linksRefused(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == EMLINK || error == EXDEV ||
           error == ENOSYS;
}

int HeldFolder::roomFor(qint64 size, qint64 data) const {
    struct statfs st {};
    if (::fstatfs(m_fd.get(), &st) != 0)
        return errno;
    return roomOnFileSystem(st.f_type, qint64(st.f_frsize ? st.f_frsize : st.f_bsize),
                            qint64(st.f_blocks), qint64(st.f_bavail), size, data);
}

HeldFolder::FreeRoom HeldFolder::freeRoom() const {
    struct statfs st {};
    if (::fstatfs(m_fd.get(), &st) != 0)
        return {};
    const qint64 blockSize = qint64(st.f_frsize ? st.f_frsize : st.f_bsize);
    // A file system without a count of entries (FAT, many FUSE ones) shows none at all.
    return {qint64(st.f_bavail) * blockSize, st.f_files == 0 ? -1 : qint64(st.f_ffree)};
}

bool HeldFolder::writable() const {
    return folderWritable(m_fd.get()) == 0;
}

bool FolderLineage::overlaps(const FolderLineage& other) const {
    if (ids.isEmpty() || other.ids.isEmpty())
        return false;
    return other.ids.contains(ids.first()) || ids.contains(other.ids.first());
}

FolderLineage lineageOf(const QString& path) {
    FolderLineage lineage;
    Fd current(::open(encodeLocal(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    quint64 device = 0, inode = 0;
    if (!current.valid() || !identityOf(current.get(), &device, &inode))
        return lineage;
    lineage.ids.append({device, inode});
    // The root is its own parent; a path of a few hundred levels is deeper than any real one.
    for (int depth = 0; depth < 512; ++depth) {
        Fd parent(::openat(current.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!parent.valid() || !identityOf(parent.get(), &device, &inode) ||
            lineage.ids.contains(std::pair(device, inode)))
            break;
        lineage.ids.append({device, inode});
        current = std::move(parent);
    }
    return lineage;
}

bool foldersOverlap(const QString& first, const QString& second) {
    return lineageOf(first).overlaps(lineageOf(second));
}

}  // namespace kw::fs
