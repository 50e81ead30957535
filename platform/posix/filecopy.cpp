#include "platform/filecopy.h"

#include "platform/textcodec.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <memory>

namespace kw::fs {
namespace {

constexpr qint64 kCompareChunk = 1'024'000;
constexpr size_t kBufferSize = 256 * 1024;

qint64 modifiedNs(const struct stat& st) {
    return qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

int writeAll(int fd, const char* data, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        count -= size_t(n);
    }
    return 0;
}

int copyThroughBuffer(qint64 count, int sourceFd, int destinationFd) {
    const size_t size = size_t(std::min<qint64>(count, qint64(kBufferSize)));
    std::unique_ptr<char[]> buffer(new char[size]);
    while (count > 0) {
        const ssize_t n =
            ::read(sourceFd, buffer.get(), size_t(std::min<qint64>(count, qint64(size))));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return kSourceChanged;
        if (const int error = writeAll(destinationFd, buffer.get(), size_t(n)))
            return error;
        count -= n;
    }
    return 0;
}

// Reads up to count bytes; fewer only at the end of the file.
ssize_t readFully(int fd, char* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, buffer + done, count - done);
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

// renameat2 without replacing; file systems that lack the flag get a hard link, which fails on
// an existing name too, and the old name removed.
int renameNoReplaceAt(int folderFd, const char* from, const char* to) {
    if (::renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::linkat(folderFd, from, folderFd, to, 0) != 0)
        return errno;
    ::unlinkat(folderFd, from, 0);
    return 0;
}

}  // namespace

void setPartialMark(const QByteArray& mark) {
    partialMark() = mark;
}

QByteArray partialPrefix() {
    const QByteArray& mark = partialMark();
    return mark.isEmpty() ? QByteArray(kPartialPrefix) : kPartialPrefix + mark + '-';
}

int CopyBytes(qint64 count, int sourceFd, int destinationFd) {
    while (count > 0) {
        const ssize_t n =
            ::copy_file_range(sourceFd, nullptr, destinationFd, nullptr, size_t(count), 0);
        if (n > 0) {
            count -= n;
            continue;
        }
        if (n == 0)
            return kSourceChanged;
        if (errno == EINTR)
            continue;
        // Across file systems, or where the kernel cannot copy in place, move the rest through
        // a buffer; both file positions stand where the kernel left them.
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            return copyThroughBuffer(count, sourceFd, destinationFd);
        return errno;
    }
    return 0;
}

StagedCopy::~StagedCopy() {
    discard();
}

int StagedCopy::begin(const QString& source, const QString& folder) {
    m_sourcePath = encodeLocal(source);
    m_folder = encodeLocal(folder);
    m_source = Fd(::open(m_sourcePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!m_source.valid())
        return errno;
    struct stat st {};
    if (::fstat(m_source.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EISDIR;
    m_size = st.st_size;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_modifiedNs = modifiedNs(st);
    ::posix_fadvise(m_source.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    m_folderFd = Fd(::open(m_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!m_folderFd.valid())
        return errno;
    for (int attempt = 0; attempt < 8 && !m_partial.valid(); ++attempt) {
        m_partialName = randomPartialName();
        m_partial = Fd(::openat(m_folderFd.get(), m_partialName.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!m_partial.valid() && errno != EEXIST)
            return errno;
    }
    if (!m_partial.valid())
        return EEXIST;
    m_partialExists = true;
    return 0;
}

int StagedCopy::copy(qint64 count) {
    if (!m_partial.valid())
        return EBADF;
    const int result = CopyBytes(count, m_source.get(), m_partial.get());
    if (result != 0)
        return result;
    // Start writing the chunk out now, so the flush before the rename finds little left to do
    // and the disk works while the next chunk is copied.
    if (count > 0)
        ::sync_file_range(m_partial.get(), m_copied, count, SYNC_FILE_RANGE_WRITE);
    m_copied += count;
    return 0;
}

int StagedCopy::commit(const QString& name) {
    if (!m_partial.valid())
        return EBADF;
    // The source must be the very file that was opened, no longer and not rewritten since, or
    // deleting it after the copy would lose what was written meanwhile.
    struct stat now {};
    if (::fstat(m_source.get(), &now) != 0)
        return errno;
    if (m_copied != m_size || now.st_size != m_size || modifiedNs(now) != m_modifiedNs)
        return kSourceChanged;
    struct stat byPath {};
    if (::stat(m_sourcePath.constData(), &byPath) != 0 || byPath.st_dev != m_device ||
        byPath.st_ino != m_inode)
        return kSourceChanged;

    struct stat written {};
    if (::fstat(m_partial.get(), &written) != 0)
        return errno;
    if (written.st_size != m_copied)
        return EIO;
    // Flush before the rename, or a power cut could leave the name without its data.
    if (::fdatasync(m_partial.get()) != 0)
        return errno;
    if (::close(m_partial.release()) != 0)
        return errno;

    // A folder its path no longer reaches (its file system unmounted meanwhile) would take the
    // copy with it, and the source must stay.
    struct stat folderNow {
    }, folderByPath{};
    if (::fstat(m_folderFd.get(), &folderNow) != 0 ||
        ::stat(m_folder.constData(), &folderByPath) != 0 ||
        folderNow.st_dev != folderByPath.st_dev || folderNow.st_ino != folderByPath.st_ino)
        return ENOENT;

    const QByteArray target = encodeLocal(name);
    if (const int error =
            renameNoReplaceAt(m_folderFd.get(), m_partialName.constData(), target.constData()))
        return error;
    m_partialExists = false;
    // The new name must be on disk before the caller deletes the source: when the folder cannot
    // be flushed (a stick pulled this moment) the source stays.
    return flushFolder(m_folderFd.get());
}

int StagedCopy::discard() {
    m_partial = Fd();
    if (!m_partialExists)
        return 0;
    if (::unlinkat(m_folderFd.get(), m_partialName.constData(), 0) != 0 && errno != ENOENT)
        return errno;
    m_partialExists = false;
    return 0;
}

QString StagedCopy::partialPath() const {
    if (!m_partialExists)
        return {};
    QByteArray path = m_folder;
    if (!path.endsWith('/'))
        path += '/';
    return decodeLocal(path + m_partialName);
}

Comparison compareContents(const QString& first, const QString& second,
                           const std::function<bool()>& afterChunk) {
    Fd a(::open(encodeLocal(first).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    Fd b(::open(encodeLocal(second).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!a.valid() || !b.valid())
        return Comparison::Failed;
    struct stat sa {
    }, sb{};
    if (::fstat(a.get(), &sa) != 0 || ::fstat(b.get(), &sb) != 0 || !S_ISREG(sa.st_mode) ||
        !S_ISREG(sb.st_mode))
        return Comparison::Failed;
    if (sa.st_size != sb.st_size)
        return Comparison::Different;
    std::unique_ptr<char[]> bufferA(new char[kCompareChunk]);
    std::unique_ptr<char[]> bufferB(new char[kCompareChunk]);
    for (;;) {
        const ssize_t na = readFully(a.get(), bufferA.get(), kCompareChunk);
        const ssize_t nb = readFully(b.get(), bufferB.get(), kCompareChunk);
        if (na < 0 || nb < 0)
            return Comparison::Failed;
        if (na != nb || std::memcmp(bufferA.get(), bufferB.get(), size_t(na)) != 0)
            return Comparison::Different;
        if (na < kCompareChunk)
            return Comparison::Equal;
        if (afterChunk && !afterChunk())
            return Comparison::Interrupted;
    }
}

bool sameFile(const QString& first, const QString& second) {
    struct stat a {
    }, b{};
    return ::stat(encodeLocal(first).constData(), &a) == 0 &&
           ::stat(encodeLocal(second).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

}  // namespace kw::fs
