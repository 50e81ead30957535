#include "platform/fs.h"

#include "platform/pathname.h"
#include "platform/posix/fd.h"
#include "platform/posix/norename.h"
#include "platform/textcodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace kw::fs {
namespace {

QByteArray native(const QString& path) {
    return encodeLocal(path);
}

std::optional<Facts> statxFacts(const QString& path, int flags, int* error) {
    struct statx st {};
    if (::statx(AT_FDCWD, native(path).constData(), flags, STATX_BASIC_STATS | STATX_BTIME, &st) !=
        0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    if (error)
        *error = 0;
    return toFacts(st);
}

// A mount point as the mount table writes it: blank, tab, line break and backslash as octal.
QByteArray unescapeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        bool ok = false;
        const int value =
            field[i] == '\\' && i + 3 < field.size() ? field.mid(i + 1, 3).toInt(&ok, 8) : 0;
        if (ok) {
            out.append(char(value));
            i += 3;
        } else {
            out.append(field[i]);
        }
    }
    return out;
}

bool isInside(QByteArrayView path, QByteArrayView folder) {
    if (folder == "/")
        return true;
    return path.startsWith(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// The file a path finally names, its symbolic links followed (a dotfiles folder links the data
// files): replacing it there keeps the link. A dangling link leads to the name it points at, which
// a write then creates. The path itself when it is no link or the chain is too long.
QByteArray linkTarget(const QByteArray& path) {
    QByteArray current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        QByteArray target(qsizetype(st.st_size > 0 ? st.st_size : 4096), Qt::Uninitialized);
        const ssize_t n = ::readlink(current.constData(), target.data(), size_t(target.size()));
        if (n <= 0 || n > target.size())
            return path;
        target.truncate(n);
        current =
            target.startsWith('/')
                ? target
                : PathName::fromNative(current).sibling(PathName::fromNative(target)).native();
    }
    return path;
}

}  // namespace

Facts toFacts(const struct statx& st) {
    Facts f;
    if (S_ISREG(st.stx_mode))
        f.kind = Kind::Regular;
    else if (S_ISDIR(st.stx_mode))
        f.kind = Kind::Directory;
    f.size = static_cast<qint64>(st.stx_size);
    f.modifiedNs = nanosecondsOf(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    const bool hasBirth = (st.stx_mask & STATX_BTIME) != 0 && st.stx_btime.tv_sec != 0;
    const qint64 seconds = hasBirth ? st.stx_btime.tv_sec : st.stx_mtime.tv_sec;
    f.created = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    return f;
}

std::optional<Facts> facts(const QString& path, int* error) {
    return statxFacts(path, AT_SYMLINK_NOFOLLOW, error);
}

std::optional<Facts> factsFollowingLinks(const QString& path, int* error) {
    return statxFacts(path, 0, error);
}

bool isDirectory(const QString& path) {
    const auto f = factsFollowingLinks(path);
    return f && f->kind == Kind::Directory;
}

bool isReadableFile(const QString& path) {
    if (path.isEmpty())
        return false;
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused as no regular file below.
    Fd fd(::open(native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return false;
    struct stat st {};
    return ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<QStringList> regularFileNames(const QString& folder) {
    const QByteArray nativeFolder = native(folder);
    DIR* dir = ::opendir(nativeFolder.constData());
    if (!dir)
        return std::nullopt;
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_REG)
            names.append(decodeLocal(QByteArrayView(name)));
    }
    ::closedir(dir);
    return names;
}

QStringList namesStartingWith(const QString& folder, const QString& prefix) {
    QStringList names;
    DIR* dir = ::opendir(native(folder).constData());
    if (!dir)
        return names;
    const QByteArray nativePrefix = native(prefix);
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, nativePrefix.constData(), size_t(nativePrefix.size())) == 0)
            names.append(decodeLocal(QByteArrayView(entry->d_name)));
    }
    ::closedir(dir);
    return names;
}

std::optional<QByteArray> readAll(const QString& path, int* error) {
    return readStart(path, std::numeric_limits<qint64>::max(), error);
}

std::optional<QByteArray> readStart(const QString& path, qint64 count, int* error) {
    const auto fail = [error](int code) -> std::optional<QByteArray> {
        if (error)
            *error = code;
        return std::nullopt;
    };
    Fd fd(::open(native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return fail(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(EISDIR);
    QByteArray bytes;
    bytes.reserve(qsizetype(std::min<qint64>(st.st_size, count)));
    char buffer[65536];
    while (bytes.size() < count) {
        const ssize_t n =
            ::read(fd.get(), buffer, size_t(std::min<qint64>(sizeof buffer, count - bytes.size())));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    if (error)
        *error = 0;
    return bytes;
}

int replaceAtomically(const QString& path, QByteArrayView bytes) {
    const QByteArray target = linkTarget(native(path));
    const QByteArray temporary =
        target + ".new-" + QByteArray::number(QRandomGenerator::global()->generate(), 16);
    Fd fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!fd.valid())
        return errno;
    // The new version keeps the old one's permission bits: a settings file kept private stays so.
    struct stat old {};
    int result = 0;
    if (::stat(target.constData(), &old) == 0 && ::fchmod(fd.get(), old.st_mode & 0777) != 0)
        result = errno;
    if (result == 0)
        result = writeAll(fd.get(), bytes.data(), bytes.size());
    // Flush before the rename, or a power cut could leave the name on an empty file.
    if (result == 0 && ::fdatasync(fd.get()) != 0)
        result = errno;
    if (result == 0 && ::close(fd.release()) != 0)
        result = errno;
    if (result == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        result = errno;
    if (result != 0) {
        ::unlink(temporary.constData());
        return result;
    }
    // The rename itself is on disk only once its folder is.
    return flushFolderAt(folderOf(target));
}

int replaceThroughSpare(const QString& path, const QString& sparePath, QByteArrayView bytes) {
    const QByteArray named = native(path);
    const QByteArray target = linkTarget(named);
    // Through a link the spare goes beside the file it leads to, as the two names are exchanged.
    QByteArray spare = native(sparePath);
    if (target != named)
        spare =
            PathName::fromNative(target).sibling(PathName::fromNative(spare).fileName()).native();
    Fd fd(::open(spare.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd.valid())
        return errno;
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::pwrite(fd.get(), bytes.data() + done, size_t(bytes.size() - done), done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += n;
    }
    if (::ftruncate(fd.get(), bytes.size()) != 0 || ::close(fd.release()) != 0)
        return errno;
    if (::renameat2(AT_FDCWD, spare.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) ==
        0)
        return 0;
    // No file to exchange with yet, or a file system that cannot exchange: a plain rename.
    return ::rename(spare.constData(), target.constData()) == 0 ? 0 : errno;
}

int append(const QString& path, QByteArrayView bytes) {
    Fd fd(::open(native(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid())
        return errno;
    const int result = writeAll(fd.get(), bytes.data(), bytes.size());
    if (result != 0)
        return result;
    return ::close(fd.release()) == 0 ? 0 : errno;
}

int removeFile(const QString& path) {
    const QByteArray target = native(path);
    struct stat st {};
    if (::lstat(target.constData(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0)
        ::chmod(target.constData(), st.st_mode | S_IWUSR);
    return ::unlink(target.constData()) == 0 ? 0 : errno;
}

int makePath(const QString& folder) {
    QByteArray path = native(folder);
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    if (path.isEmpty())
        return ENOENT;
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/')
            continue;
        const QByteArray prefix = path.left(i);
        if (::mkdir(prefix.constData(), 0777) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int renameNoReplace(const QString& from, const QString& to) {
    return renameWithoutReplacing(AT_FDCWD, native(from).constData(), AT_FDCWD,
                                  native(to).constData());
}

int roomFor(const QString& folder, qint64 size) {
    struct statfs st {};
    if (::statfs(native(folder).constData(), &st) != 0)
        return errno;
    return roomOnFileSystem(st.f_type, qint64(st.f_frsize ? st.f_frsize : st.f_bsize),
                            qint64(st.f_blocks), qint64(st.f_bavail), size);
}

quint64 deviceOf(const QString& path) {
    struct stat st {};
    return ::stat(native(path).constData(), &st) == 0 ? quint64(st.st_dev) : 0;
}

QString canonicalPath(const QString& path) {
    char* resolved = ::realpath(native(path).constData(), nullptr);
    if (!resolved)
        return {};
    QString result = decodeLocal(QByteArrayView(resolved));
    ::free(resolved);
    return result;
}

bool isWritableFolder(const QString& folder) {
    return isDirectory(folder) && ::access(native(folder).constData(), W_OK) == 0;
}

QString mountPointOf(const QString& path) {
    char* resolved = ::realpath(native(path).constData(), nullptr);
    if (!resolved)
        return {};
    const QByteArray real(resolved);
    ::free(resolved);
    const auto table = readAll(QStringLiteral("/proc/self/mountinfo"));
    if (!table)
        return {};
    // The deepest mount point above the path; of mounts stacked on one folder any will do.
    QByteArray best;
    for (const QByteArray& mountPoint : mountPointsIn(*table)) {
        if (isInside(real, mountPoint) && mountPoint.size() > best.size())
            best = mountPoint;
    }
    return decodeLocal(best);
}

QList<QByteArray> mountPointsIn(const QByteArray& mountTable) {
    QList<QByteArray> points;
    for (const QByteArray& line : mountTable.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() >= 5)
            points.append(unescapeMountField(fields[4]));
    }
    return points;
}

Problem problemOf(int error) {
    switch (error) {
        case 0:
            return Problem::None;
        case EEXIST:
            return Problem::Exists;
        case ENOENT:
            return Problem::Missing;
        case EILSEQ:
        case EINVAL:
            return Problem::NameRefused;
        case ENAMETOOLONG:
            return Problem::NameTooLong;
        case EFBIG:
            return Problem::TooLarge;
        case ENOSPC:
            return Problem::NoSpace;
        case EDQUOT:
            return Problem::NoQuota;
        case EACCES:
        case EPERM:
        case EROFS:
            return Problem::NoPermission;
        default:
            return Problem::Other;
    }
}

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace kw::fs
