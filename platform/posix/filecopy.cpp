#include "platform/filecopy.h"

#include "platform/pathname.h"
#include "platform/posix/fd.h"
#include "platform/posix/norename.h"
#include "platform/textcodec.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace kw::fs {
namespace {

constexpr qint64 kCompareChunk = 1'024'000;
constexpr size_t kBufferSize = 256 * 1024;
constexpr qint64 kWriteOutEarly = 512 * 1024;

CopyResult failed(int error) {
    return CopyResult::ofError(error);
}

CopyResult copyThroughBuffer(qint64 count, int sourceFd, int destinationFd) {
    const size_t size = size_t(std::min<qint64>(count, qint64(kBufferSize)));
    std::unique_ptr<char[]> buffer(new char[size]);
    while (count > 0) {
        const ssize_t n =
            ::read(sourceFd, buffer.get(), size_t(std::min<qint64>(count, qint64(size))));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failed(errno);
        }
        if (n == 0)
            return {CopyProblem::SourceChanged};
        if (const int error = writeAll(destinationFd, buffer.get(), n))
            return failed(error);
        count -= n;
    }
    return {};
}

// Reads up to count bytes from offset on; fewer only at the end of the file.
ssize_t readFully(int fd, qint64 offset, char* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, buffer + done, count - done, off_t(offset + qint64(done)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += size_t(n);
    }
    return ssize_t(done);
}

QByteArray& partialMark() {
    static QByteArray mark;
    return mark;
}

QByteArray randomPartialName() {
    return partialPrefix() + QByteArray::number(QRandomGenerator::global()->generate64(), 16) +
           kPartialSuffix;
}

}  // namespace

CopyResult CopyResult::ofError(int error) {
    if (error == 0)
        return {};
    return {error == EEXIST ? CopyProblem::NameTaken : CopyProblem::System, error};
}

void setPartialMark(const QByteArray& mark) {
    partialMark() = mark;
}

QByteArray partialPrefix() {
    const QByteArray& mark = partialMark();
    return mark.isEmpty() ? QByteArray(kPartialPrefix) : kPartialPrefix + mark + '-';
}

CopyResult CopyBytes(qint64 count, int sourceFd, int destinationFd) {
    while (count > 0) {
        const ssize_t n =
            ::copy_file_range(sourceFd, nullptr, destinationFd, nullptr, size_t(count), 0);
        if (n > 0) {
            count -= n;
            continue;
        }
        if (n == 0)
            return {CopyProblem::SourceChanged};
        if (errno == EINTR)
            continue;
        // Across file systems, or where the kernel cannot copy in place, move the rest through
        // a buffer; both file positions stand where the kernel left them.
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            return copyThroughBuffer(count, sourceFd, destinationFd);
        return failed(errno);
    }
    return {};
}

namespace {

// Copies count bytes from the source's position on, as CopyBytes, but leaves the source's holes
// holes in the copy: only data is read and written, so a file of little data costs little room
// and time. Both positions end count bytes further on.
CopyResult copyKeepingHoles(qint64 count, int sourceFd, int destinationFd) {
    const off_t start = ::lseek(sourceFd, 0, SEEK_CUR);
    if (start < 0)
        return failed(errno);
    const off_t end = start + off_t(count);
    for (off_t position = start; position < end;) {
        off_t data = ::lseek(sourceFd, position, SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // Only a hole from here to the end of the file, unless the file ends early.
            struct stat now {};
            if (::fstat(sourceFd, &now) != 0)
                return failed(errno);
            if (now.st_size < end)
                return {CopyProblem::SourceChanged};
            data = end;
        } else if (data < 0) {
            // A file system that cannot tell its holes: all of the rest is data.
            data = position;
        }
        data = std::min(data, end);
        off_t hole = data < end ? ::lseek(sourceFd, data, SEEK_HOLE) : end;
        if (hole < 0)
            hole = end;
        hole = std::min(hole, end);
        if (::lseek(sourceFd, data, SEEK_SET) < 0 || ::lseek(destinationFd, data, SEEK_SET) < 0)
            return failed(errno);
        if (hole > data) {
            if (const CopyResult copied = CopyBytes(hole - data, sourceFd, destinationFd);
                !copied.ok())
                return copied;
        }
        position = std::max(hole, data);
    }
    if (::lseek(sourceFd, end, SEEK_SET) < 0 || ::lseek(destinationFd, end, SEEK_SET) < 0)
        return failed(errno);
    // A hole at the end of the chunk is written by no byte: the copy is made that long here.
    struct stat written {};
    if (::fstat(destinationFd, &written) != 0)
        return failed(errno);
    if (written.st_size < end && ::ftruncate(destinationFd, end) != 0)
        return failed(errno);
    return {};
}

}  // namespace

qint64 StagedCopy::sourceData() const {
    struct stat st {};
    if (!m_source || ::fstat(m_source->fd(), &st) != 0)
        return sourceSize();
    return std::min<qint64>(sourceSize(), qint64(st.st_blocks) * 512);
}

StagedCopy::~StagedCopy() {
    discard();
}

CopyResult StagedCopy::begin(const QString& source, const QString& folder) {
    switch (m_ownSource.open(source)) {
        case Hold::Leased:
        case Hold::Unleased:
        case Hold::OpenForWriting:
            return begin(m_ownSource, folder);
        case Hold::Locked:
            return failed(EWOULDBLOCK);
        case Hold::Gone:
            return failed(m_ownSource.error() ? m_ownSource.error() : EISDIR);
        case Hold::Failed:
            return failed(m_ownSource.error());
    }
    return failed(EBADF);
}

CopyResult StagedCopy::begin(const HeldSource& source, const QString& folder) {
    const QByteArray path = encodeLocal(folder);
    Fd folderFd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFd.valid())
        return failed(errno);
    return beginIn(source, std::move(folderFd), path);
}

CopyResult StagedCopy::begin(const HeldSource& source, const HeldFolder& folder) {
    Fd folderFd(::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0));
    if (!folderFd.valid())
        return failed(errno);
    return beginIn(source, std::move(folderFd), encodeLocal(folder.path()));
}

CopyResult StagedCopy::beginIn(const HeldSource& source, Fd folder, const QByteArray& folderPath) {
    m_source = &source;
    m_folder = folderPath;
    m_folderFd = std::move(folder);
    // The copy reads from the start whatever was read through the held file before.
    if (::lseek(source.fd(), 0, SEEK_SET) != 0)
        return failed(errno);
    ::posix_fadvise(source.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);

    for (int attempt = 0; attempt < 8 && !m_partial.valid(); ++attempt) {
        m_partialName = randomPartialName();
        // Only its owner may read the copy until it has the source's mode, or a private file
        // would be open to everyone while it fills.
        m_partial = Fd(::openat(m_folderFd.get(), m_partialName.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!m_partial.valid() && errno != EEXIST)
            return failed(errno);
    }
    if (!m_partial.valid())
        return failed(EEXIST);
    m_partialExists = true;
    return {};
}

CopyResult StagedCopy::sourceState() const {
    switch (m_source->check()) {
        case NameResult::Done:
            return {};
        case NameResult::OpenedForWriting:
            return {CopyProblem::SourceOpenedForWriting};
        default:
            return {CopyProblem::SourceChanged};
    }
}

CopyResult StagedCopy::copy(qint64 count) {
    if (!m_partial.valid())
        return failed(EBADF);
    // Checked before every chunk, so a program that opens the source for writing waits for
    // one chunk at most before the copy gives the file back.
    if (const CopyResult state = sourceState(); !state.ok())
        return state;
    const CopyResult result = copyKeepingHoles(count, m_source->fd(), m_partial.get());
    if (!result.ok())
        return result;
    // Start writing a large chunk out now, so the flush before the rename finds little left to
    // do and the disk works while the next chunk is copied. Small files are left to the one flush
    // of their group, which writes them out together.
    if (count >= kWriteOutEarly)
        ::sync_file_range(m_partial.get(), m_copied, count, SYNC_FILE_RANGE_WRITE);
    m_copied += count;
    return {};
}

CopyResult StagedCopy::commit(const QString& name) {
    if (const CopyResult completed = complete(); !completed.ok())
        return completed;
    return publish(name, nullptr);
}

CopyResult StagedCopy::complete() {
    if (!m_partial.valid())
        return failed(EBADF);
    const Snapshot& source = m_source->snapshot();
    struct stat written {};
    if (::fstat(m_partial.get(), &written) != 0)
        return failed(errno);
    if (written.st_size != m_copied)
        return failed(EIO);
    // The source's owner where this user may give a file away (root; anyone else keeps the copy
    // as their own), then its permission bits without set-user, set-group and sticky bits, which
    // must not pass to a file that someone else may own; times last, as every step before
    // changes them.
    if (written.st_uid != source.owner || written.st_gid != source.group) {
        [[maybe_unused]] const int ignored = ::fchown(m_partial.get(), source.owner, source.group);
    }
    int accessError = 0;
    m_access = copyAccess(m_source->fd(), m_partial.get(), source.mode & 0777, &accessError);
    if (m_access == AccessCopy::Failed)
        return failed(accessError);
    const struct timespec times[2] = {
        {time_t(source.accessedNs / 1'000'000'000), long(source.accessedNs % 1'000'000'000)},
        {time_t(source.modifiedNs / 1'000'000'000), long(source.modifiedNs % 1'000'000'000)}};
    if (::futimens(m_partial.get(), times) != 0)
        return failed(errno);
    m_completed = true;
    return {};
}

CopyResult StagedCopy::publish(const QString& name, FolderFlushes* batch, bool durable) {
    if (!m_partial.valid() || !m_completed)
        return failed(EBADF);
    // The source must be the very file that was opened, complete, and not written to since (size,
    // modification and change time), or deleting it after the copy would lose what was written.
    if (const CopyResult state = sourceState(); !state.ok())
        return state;
    if (m_copied != m_source->snapshot().size || !m_source->stillNamed())
        return {CopyProblem::SourceChanged};
    // Flush data, mode and times before the rename, or a power cut could leave the name without
    // its data.
    if (!durable && ::fsync(m_partial.get()) != 0)
        return failed(errno);
    if (::close(m_partial.release()) != 0)
        return failed(errno);

    // A folder its path no longer reaches (its file system unmounted meanwhile) would take the
    // copy with it, and the source must stay.
    struct stat folderNow {
    }, folderByPath{};
    if (::fstat(m_folderFd.get(), &folderNow) != 0 ||
        ::stat(m_folder.constData(), &folderByPath) != 0 ||
        folderNow.st_dev != folderByPath.st_dev || folderNow.st_ino != folderByPath.st_ino)
        return failed(ENOENT);

    const QByteArray target = encodeLocal(name);
    if (const int error = renameWithoutReplacing(m_folderFd.get(), m_partialName.constData(),
                                                 m_folderFd.get(), target.constData()))
        return failed(error);
    m_partialExists = false;
    // The new name must be on disk before the caller deletes the source: when the folder cannot
    // be flushed (a stick pulled this moment) the source stays.
    if (batch) {
        batch->add(m_folderFd.get());
        return {};
    }
    return failed(flushFolder(m_folderFd.get()));
}

bool StagedCopy::discard() {
    m_partial = Fd();
    if (!m_partialExists)
        return true;
    if (::unlinkat(m_folderFd.get(), m_partialName.constData(), 0) != 0 && errno != ENOENT)
        return false;
    m_partialExists = false;
    return true;
}

QString StagedCopy::partialPath() const {
    if (!m_partialExists)
        return {};
    return PathName::fromNative(m_folder).joined(PathName::fromNative(m_partialName)).text();
}

Comparison compareContents(const HeldSource& source, const HeldFolder& folder,
                           const QString& otherName, const std::function<bool()>& afterChunk) {
    using Verdict = Comparison::Verdict;
    const auto unknown = [](CopyResult problem) { return Comparison{Verdict::Unknown, problem}; };
    // Never following a link: a link to the source would make the source its own twin.
    Fd b(::openat(folder.fd(), encodeLocal(otherName).constData(),
                  O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!b.valid())
        return errno == ELOOP ? Comparison{Verdict::Different} : unknown(failed(errno));
    struct stat sb {};
    if (::fstat(b.get(), &sb) != 0)
        return unknown(failed(errno));
    if (!S_ISREG(sb.st_mode))
        return {Verdict::Different};
    // A file is never its own twin: deleting "the source" would delete the only copy.
    if (sb.st_dev == source.snapshot().device && sb.st_ino == source.snapshot().inode)
        return {Verdict::SameFile};
    if (sb.st_size != source.snapshot().size)
        return {Verdict::Different};
    std::unique_ptr<char[]> bufferA(new char[kCompareChunk]);
    std::unique_ptr<char[]> bufferB(new char[kCompareChunk]);
    for (qint64 offset = 0;; offset += kCompareChunk) {
        const ssize_t na = readFully(source.fd(), offset, bufferA.get(), kCompareChunk);
        const ssize_t nb = readFully(b.get(), offset, bufferB.get(), kCompareChunk);
        if (na < 0 || nb < 0)
            return unknown(failed(errno));
        if (na != nb || std::memcmp(bufferA.get(), bufferB.get(), size_t(na)) != 0)
            return {Verdict::Different};
        switch (source.check()) {
            case NameResult::Done:
                break;
            case NameResult::OpenedForWriting:
                return unknown({CopyProblem::SourceOpenedForWriting});
            default:
                return unknown({CopyProblem::SourceChanged});
        }
        if (na < kCompareChunk)
            return {Verdict::Equal};
        if (afterChunk && !afterChunk())
            return unknown({CopyProblem::Interrupted});
    }
}

bool flushFileSystemOf(const HeldFolder& folder) {
    constexpr __fsword_t kFlushedWhole[] = {
        0xEF53,      // ext2, ext3, ext4
        0x58465342,  // XFS
        0x9123683E,  // Btrfs
        0xF2F52010,  // F2FS
        0x01021994,  // tmpfs
    };
    struct statfs kind {};
    if (!folder.isOpen() || ::fstatfs(folder.fd(), &kind) != 0)
        return false;
    // Since Linux 5.8 a failed write-back of any file there fails the flush.
    return std::find(std::begin(kFlushedWhole), std::end(kFlushedWhole), kind.f_type) !=
               std::end(kFlushedWhole) &&
           ::syncfs(folder.fd()) == 0;
}

}  // namespace kw::fs
