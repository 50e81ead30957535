#include "platform/filemove.h"

#include "platform/pathname.h"
#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

namespace kw::fs {
namespace {

// A program opened a leased file for writing, and its open waits until the lease is given up.
// It is given up here and now (fcntl is async-signal-safe), so that the writer does not wait
// for the chunk being copied, nor for a dialog that keeps the event loop busy; the copy,
// comparison or move that held the file notices at its next check, where F_GETLEASE answers
// F_UNLCK, and stands back. Only the kernel sends POLL_MSG with a descriptor; at worst, a
// descriptor number reused meanwhile loses its lease, and that move waits for a later tick.
extern "C" void onLeaseBreak(int, siginfo_t* info, void*) {
    const int savedErrno = errno;
    if (info->si_code == POLL_MSG && info->si_fd >= 0)
        ::fcntl(info->si_fd, F_SETLEASE, F_UNLCK);
    errno = savedErrno;
}

// The kernel announces a lease break with a signal whose default action ends the process, and
// sends it to the whole process, so any thread (Qt's and the sound system's included) may get
// it: blocking it would have to happen in every thread, so it has a handler instead. A handler
// rather than SIG_IGN also because an ignored signal stays ignored in the programs this one
// starts; a real-time signal of its own, so that no other use of SIGIO is taken for a break.
// When the queue of real-time signals is full the kernel sends SIGIO instead, so SIGIO gets the
// handler too unless something else already handles it.
int leaseBreakSignal() {
    static const int signalNumber = [] {
        const int number = SIGRTMIN + 3;
        struct sigaction action {};
        action.sa_sigaction = onLeaseBreak;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        ::sigaction(number, &action, nullptr);
        struct sigaction current {};
        if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::sigaction(SIGIO, &action, nullptr);
        return number;
    }();
    return signalNumber;
}

bool lookAt(int fd, const char* name, int flags, Snapshot* snapshot, QDateTime* created) {
    struct statx st {};
    if (::statx(fd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return false;
    snapshot->device = (quint64(st.stx_dev_major) << 32) | st.stx_dev_minor;
    snapshot->inode = st.stx_ino;
    snapshot->size = qint64(st.stx_size);
    snapshot->mode = st.stx_mode;
    snapshot->owner = st.stx_uid;
    snapshot->group = st.stx_gid;
    snapshot->links = st.stx_nlink;
    snapshot->accessedNs = nanosecondsOf(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
    snapshot->modifiedNs = nanosecondsOf(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    snapshot->changedNs = nanosecondsOf(st.stx_ctime.tv_sec, st.stx_ctime.tv_nsec);
    if (created) {
        const bool hasBirth = (st.stx_mask & STATX_BTIME) != 0 && st.stx_btime.tv_sec != 0;
        *created = QDateTime::fromSecsSinceEpoch(
            hasBirth ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec, Qt::UTC);
    }
    return true;
}

// Device and inode of the entry name in folder, link not followed.
bool lookAt(int fd, Snapshot* snapshot, QDateTime* created) {
    return lookAt(fd, "", AT_EMPTY_PATH, snapshot, created);
}

// Whether any extent of the open file is allocated but unwritten, as the extent map shows it.
// With sync, the file's written data is put on disk first: until then a file system may show
// extents that were preallocated and since written as unwritten still.
HeldSource::Reserved unwrittenExtents(int fd, bool sync) {
    constexpr unsigned kExtentsAtOnce = 64;
    alignas(fiemap) char buffer[sizeof(fiemap) + kExtentsAtOnce * sizeof(fiemap_extent)];
    auto* map = reinterpret_cast<fiemap*>(buffer);
    quint64 from = 0;
    for (;;) {
        *map = fiemap{};
        map->fm_start = from;
        map->fm_length = FIEMAP_MAX_OFFSET - from;
        map->fm_flags = sync ? FIEMAP_FLAG_SYNC : 0;
        map->fm_extent_count = kExtentsAtOnce;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0)
            return HeldSource::Reserved::Unknown;
        const unsigned count = map->fm_mapped_extents;
        const fiemap_extent* extents = map->fm_extents;
        for (unsigned i = 0; i < count; ++i) {
            if (extents[i].fe_flags & FIEMAP_EXTENT_UNWRITTEN)
                return HeldSource::Reserved::Yes;
        }
        if (count < kExtentsAtOnce || (extents[count - 1].fe_flags & FIEMAP_EXTENT_LAST))
            return HeldSource::Reserved::No;
        from = extents[count - 1].fe_logical + extents[count - 1].fe_length;
        sync = false;  // the whole file was put on disk with the first call
    }
}

bool identityOf(int folderFd, const QByteArray& name, quint64* device, quint64* inode) {
    struct statx st {};
    if (::statx(folderFd, name.constData(), AT_SYMLINK_NOFOLLOW, STATX_INO, &st) != 0)
        return false;
    *device = (quint64(st.stx_dev_major) << 32) | st.stx_dev_minor;
    *inode = st.stx_ino;
    return true;
}

}  // namespace

std::optional<Snapshot> lookAt(const HeldFolder& folder, const QString& name) {
    Snapshot look;
    if (!lookAt(folder.fd(), encodeLocal(name).constData(), AT_SYMLINK_NOFOLLOW, &look, nullptr) ||
        !S_ISREG(look.mode))
        return std::nullopt;
    look.mode &= 07777;
    return look;
}

Hold HeldSource::open(const QString& path) {
    const PathName whole(path);
    const QString folder = whole.parentFolder().text();
    if (const int error = m_ownFolder.open(folder.isEmpty() ? QStringLiteral("./") : folder)) {
        release();
        m_path = path;
        m_error = error;
        return error == ENOENT ? Hold::Gone : Hold::Failed;
    }
    return open(m_ownFolder, whole.fileName().text());
}

Hold HeldSource::open(const HeldFolder& folder, const QString& name) {
    release();
    m_error = 0;
    m_folder = &folder;
    m_name = name;
    m_path = folder.path() + name;
    m_native = encodeLocal(name);
    // Not following a link: a link put under the name must not be handled as what it points at.
    // O_NONBLOCK: a FIFO does not block, and neither does another program's write lease.
    m_fd = Fd(::openat(folder.fd(), m_native.constData(),
                       O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!m_fd.valid()) {
        m_error = errno;
        if (m_error == ENOENT || m_error == ELOOP)
            return Hold::Gone;
        return m_error == EWOULDBLOCK ? Hold::OpenForWriting : Hold::Failed;
    }
    if (!lookAt(m_fd.get(), &m_snapshot, &m_created)) {
        m_error = errno;
        release();
        return Hold::Failed;
    }
    if (!S_ISREG(m_snapshot.mode)) {
        release();
        return Hold::Gone;
    }
    m_snapshot.mode &= 07777;
    // Another program of this kind (another user's, on a shared folder) that holds the file is
    // moving it: it is left to that one, or both would copy it. The lock goes with the descriptor.
    if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return Hold::Locked;
    // The lock may have been won just after the other program deleted the name.
    if (!lookAt(m_fd.get(), &m_snapshot, &m_created) || m_snapshot.links == 0 || !stillNamed()) {
        release();
        return Hold::Gone;
    }
    m_snapshot.mode &= 07777;
    // The signal first, so that a break that comes at once is already announced by it.
    if (::fcntl(m_fd.get(), F_SETSIG, leaseBreakSignal()) == 0 &&
        ::fcntl(m_fd.get(), F_SETLEASE, F_RDLCK) == 0) {
        m_leased = true;
        return Hold::Leased;
    }
    // A read lease is refused exactly while some process has the file open for writing.
    if (errno == EAGAIN || errno == EBUSY)
        return Hold::OpenForWriting;
    return Hold::Unleased;
}

void HeldSource::release() {
    m_fd = Fd();
    m_leased = false;
}

NameResult HeldSource::check() const {
    if (!m_fd.valid())
        return NameResult::Changed;
    if (openedForWriting())
        return NameResult::OpenedForWriting;
    Snapshot now;
    if (!lookAt(m_fd.get(), &now, nullptr))
        return NameResult::Changed;
    now.mode &= 07777;
    return now == m_snapshot ? NameResult::Done : NameResult::Changed;
}

bool HeldSource::openedForWriting() const {
    // A breaking lease, and one given up by the signal handler, reads as F_UNLCK.
    return m_leased && ::fcntl(m_fd.get(), F_GETLEASE) != F_RDLCK;
}

bool HeldSource::undisturbed() const {
    return check() == NameResult::Done;
}

bool HeldSource::stillNamed() const {
    quint64 device = 0, inode = 0;
    return identityOf(m_folder->fd(), m_native, &device, &inode) && device == m_snapshot.device &&
           inode == m_snapshot.inode;
}

HeldSource::Reserved HeldSource::reservedUnwritten(bool confirmed) const {
    // Most files hold none, and the look without putting data on disk costs next to nothing;
    // only a file that seems to is asked again after its written data reached the disk.
    const Reserved quick = unwrittenExtents(m_fd.get(), false);
    return quick == Reserved::Yes && confirmed ? unwrittenExtents(m_fd.get(), true) : quick;
}

NameResult HeldSource::removeName() {
    if (!m_folder->stillThere())
        return NameResult::FolderChanged;
    quint64 device = 0, inode = 0;
    if (!identityOf(m_folder->fd(), m_native, &device, &inode)) {
        m_error = errno;
        return m_error == ENOENT ? NameResult::Gone : NameResult::Failed;
    }
    if (device != m_snapshot.device || inode != m_snapshot.inode)
        return NameResult::Changed;
    if (const NameResult state = check(); state != NameResult::Done)
        return state;
    // POSIX has no "unlink only if it is still this inode": a program that renames another file
    // onto the name in the microseconds between the look above and the unlink below loses that
    // file. Every slower replacement, and every write to the file, is caught above.
    if (::unlinkat(m_folder->fd(), m_native.constData(), 0) != 0) {
        m_error = errno;
        return m_error == ENOENT ? NameResult::Gone : NameResult::Failed;
    }
    return NameResult::Done;
}

NameResult HeldSource::moveTo(const HeldFolder& destination, const QString& name,
                              FolderFlushes* batch) {
    if (const NameResult state = check(); state != NameResult::Done)
        return state;
    if (!m_folder->stillThere() || !destination.stillThere())
        return NameResult::FolderChanged;
    if (!stillNamed())
        return NameResult::Changed;
    const int fromFd = m_folder->fd();
    const int toFd = destination.fd();
    const QByteArray& from = m_native;
    const QByteArray to = encodeLocal(name);
    if (::renameat2(fromFd, from.constData(), toFd, to.constData(), RENAME_NOREPLACE) != 0) {
        m_error = errno;
        switch (m_error) {
            case EEXIST:
                return NameResult::DestinationExists;
            case ENOENT:
                return NameResult::Gone;
            // Another mount (also a bind mount of the same file system), or a file system that
            // cannot rename without replacing.
            case EXDEV:
            case EINVAL:
            case ENOSYS:
            case EOPNOTSUPP:
                return NameResult::NeedsCopy;
            default:
                return NameResult::Failed;
        }
    }
    // Another file renamed onto the source name just before the rename, or a program that opened
    // the file for writing meanwhile (it waits in its open until the file is closed here): it
    // goes back under its old name. (The rename itself changed the change time, so only the
    // identity and the lease tell here.) Where the old name is taken again, it stays where it
    // is, whole.
    quint64 device = 0, inode = 0;
    const bool same = identityOf(toFd, to, &device, &inode) && device == m_snapshot.device &&
                      inode == m_snapshot.inode;
    const NameResult state = !same                ? NameResult::Changed
                             : openedForWriting() ? NameResult::OpenedForWriting
                                                  : NameResult::Done;
    if (state != NameResult::Done) {
        ::renameat2(toFd, to.constData(), fromFd, from.constData(), RENAME_NOREPLACE);
        return state;
    }
    // Both folders on disk: a power cut must find the file under exactly one of the two names.
    FolderFlushes now;
    FolderFlushes& flushes = batch ? *batch : now;
    flushes.add(destination);
    flushes.add(*m_folder);
    return NameResult::Done;
}

void FolderFlushes::add(int folderFd) {
    struct stat st {};
    if (::fstat(folderFd, &st) != 0) {
        m_addError = errno;
        return;
    }
    const std::pair<quint64, quint64> key{st.st_dev, st.st_ino};
    if (m_folders.contains(key))
        return;
    auto fd = std::make_shared<Fd>(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    if (!fd->valid())
        m_addError = errno;
    else
        m_folders.insert(key, std::move(fd));
}

int FolderFlushes::flush() {
    int firstError = std::exchange(m_addError, 0);
    for (const std::shared_ptr<Fd>& folder : std::as_const(m_folders)) {
        const int error = flushFolder(folder->get());
        if (firstError == 0)
            firstError = error;
    }
    m_folders.clear();
    return firstError;
}

}  // namespace kw::fs
