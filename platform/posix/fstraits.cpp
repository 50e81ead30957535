#include "platform/fstraits.h"

#include "platform/posix/fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace kw::fs {
namespace {

// Not all of these are in every kernel's linux/magic.h.
constexpr unsigned long kFuse = 0x65735546, kCifs = 0xFF534D42, kSmb2 = 0xFE534D42, kSmb = 0x517B,
                        kNcp = 0x564C, kCeph = 0x00C36400, kOpenAfs = 0x5346414F,
                        kKafs = 0x6B414653, kCoda = 0x73757245, kGfs2 = 0x01161970,
                        kOcfs2 = 0x7461636F, kLustre = 0x0BD00BD0, kOrangeFs = 0x20030528,
                        kVboxSf = 0x786F4256, kNfs = 0x6969, kV9fs = 0x01021997;
// Kernel drivers whose times have a granularity below a second.
constexpr unsigned long kExt4 = 0xEF53, kXfs = 0x58465342, kBtrfs = 0x9123683E, kTmpfs = 0x01021994,
                        kRamfs = 0x858458F6, kF2fs = 0xF2F52010;

bool isNetwork(unsigned long type) {
    switch (type) {
        case kNfs:
        case kCifs:
        case kSmb2:
        case kSmb:
        case kNcp:
        case kCeph:
        case kOpenAfs:
        case kKafs:
        case kCoda:
        case kGfs2:
        case kOcfs2:
        case kLustre:
        case kOrangeFs:
        case kVboxSf:
        case kV9fs:
            return true;
        default:
            return false;
    }
}

bool finelyTimed(unsigned long type) {
    switch (type) {
        case kExt4:
        case kXfs:
        case kBtrfs:
        case kTmpfs:
        case kRamfs:
        case kF2fs:
            return true;
        default:
            return false;
    }
}

}  // namespace

FileSystemTraits traitsOf(int fd) {
    FileSystemTraits traits;
    struct statfs st {};
    if (::fstatfs(fd, &st) != 0)
        return traits;
    const auto type = static_cast<unsigned long>(st.f_type) & 0xFFFFFFFFul;
    traits.network = isNetwork(type);
    traits.leasesProve = !traits.network && type != kFuse;
    traits.watchSeesEveryWriter = traits.leasesProve;
    // FAT keeps modification times in steps of 2 s; exFAT, NTFS and FUSE file systems get the
    // same margin, as do file systems this list does not know.
    traits.stillSeconds = finelyTimed(type) ? 0 : 2;
    return traits;
}

int folderWritable(int folderFd) {
    struct statvfs st {};
    if (::fstatvfs(folderFd, &st) == 0 && (st.f_flag & ST_RDONLY) != 0)
        return EROFS;
    // With the effective ids, as creating a file there checks them; search access is needed too.
    return ::faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

qint64 descriptorsLeft() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    Fd folder(::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* list = folder.valid() ? ::fdopendir(folder.get()) : nullptr;
    if (!list)
        return -1;
    folder.release();
    qint64 open = 0;
    while (const dirent* entry = ::readdir(list))
        if (entry->d_name[0] != '.')
            ++open;
    // The listing's own descriptor is closed again.
    ::closedir(list);
    --open;
    if (limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<qint64>::max();
    return std::max<qint64>(0, qint64(limit.rlim_cur) - open);
}

}  // namespace kw::fs
