#include "platform/posix/norename.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kw::fs {
namespace {

bool exists(int folder, const char* name) {
    struct stat st {};
    return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Some FUSE file systems answer a name they cannot store with "no such file".
int refusedNameOr(int error, int fromFolder, const char* from) {
    return error == ENOENT && exists(fromFolder, from) ? EINVAL : error;
}

}  // namespace

int renameWithoutReplacing(int fromFolder, const char* from, int toFolder, const char* to) {
    if (::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return refusedNameOr(errno, fromFolder, from);

    if (::linkat(fromFolder, from, toFolder, to, 0) == 0) {
        ::unlinkat(fromFolder, from, 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        return refusedNameOr(errno, fromFolder, from);

    if (exists(toFolder, to))
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    if (::renameat(fromFolder, from, toFolder, to) != 0)
        return refusedNameOr(errno, fromFolder, from);
    return 0;
}

}  // namespace kw::fs
