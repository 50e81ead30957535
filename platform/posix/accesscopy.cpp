#include "platform/accesscopy.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kw::fs {
namespace {

constexpr char kAclName[] = "system.posix_acl_access";

// The kernel's layout of an access control list attribute (linux/posix_acl_xattr.h): a version,
// then entries of tag, permission bits and id, all little-endian.
constexpr std::uint32_t kAclVersion = 2;
constexpr std::uint16_t kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kGroup = 0x08,
                        kMask = 0x10, kOther = 0x20;
constexpr std::size_t kHeaderSize = 4, kEntrySize = 8;

std::uint32_t little(const unsigned char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

bool ignorable(int error) {
    return error == ENODATA || error == ENOTSUP || error == ENOSYS;
}

// The attribute's value; empty with *error 0 when the file has none or its file system keeps
// none.
std::vector<char> attribute(int fd, const char* name, int* error) {
    *error = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) {
            *error = ignorable(errno) ? 0 : errno;
            return {};
        }
        std::vector<char> value(std::size_t(size) + 1);
        const ssize_t got = ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(std::size_t(got));
            return value;
        }
        // Grown since it was measured: measure again.
        if (errno != ERANGE) {
            *error = ignorable(errno) ? 0 : errno;
            return {};
        }
    }
    *error = ERANGE;
    return {};
}

std::vector<std::string> userAttributeNames(int fd) {
    std::vector<char> names;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size <= 0)
            return {};
        names.resize(std::size_t(size) + 1);
        const ssize_t got = ::flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(std::size_t(got));
            break;
        }
        if (errno != ERANGE)
            return {};
        names.clear();
    }
    std::vector<std::string> user;
    for (std::size_t at = 0; at < names.size();) {
        const std::string_view name(names.data() + at);
        if (name.starts_with("user."))
            user.emplace_back(name);
        at += name.size() + 1;
    }
    return user;
}

// Without the list, every user it names lands in the owning group's class or in the other class
// of the mode, whichever fits them, and so does every member of a named group. So each class
// keeps only what every user who may land in it had: the owning group's class the owning
// group's rights under the mask and every named user's; the other class the others' rights and
// every named user's and named group's under the mask. The owner keeps the owner's rights. A list
// that cannot be read leaves the owner alone with access.
unsigned narrowedMode(const std::vector<char>& acl, unsigned mode) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(acl.data());
    if (acl.size() < kHeaderSize || (acl.size() - kHeaderSize) % kEntrySize != 0 ||
        little(bytes, 4) != kAclVersion)
        return mode & ~077u;
    unsigned owner = 0, group = 0, other = 0, mask = 7, namedUsers = 7, namedGroups = 7;
    bool anyNamed = false;
    for (std::size_t at = kHeaderSize; at < acl.size(); at += kEntrySize) {
        const unsigned tag = little(bytes + at, 2);
        const unsigned perm = little(bytes + at + 2, 2) & 7;
        switch (tag) {
            case kUserObj:
                owner = perm;
                break;
            case kUser:
                namedUsers &= perm;
                anyNamed = true;
                break;
            case kGroupObj:
                group = perm;
                break;
            case kGroup:
                namedGroups &= perm;
                anyNamed = true;
                break;
            case kMask:
                mask = perm;
                break;
            case kOther:
                other = perm;
                break;
            default:
                return mode & ~077u;
        }
    }
    // The mask bounds named entries and the owning group, never the others' own entry.
    const unsigned groupClass = group & namedUsers & mask;
    const unsigned otherClass = anyNamed ? other & namedUsers & namedGroups & mask : other;
    const unsigned narrowed = owner << 6 | groupClass << 3 | otherClass;
    return (mode & ~0777u) | (mode & 0777u & narrowed);
}

}  // namespace

AccessCopy copyAccess(int sourceFd, int copyFd, unsigned mode, int* error) {
    int unused = 0;
    error = error ? error : &unused;
    *error = 0;
    // The list is read first: a source whose list cannot be read gives no safe mode.
    const std::vector<char> acl = attribute(sourceFd, kAclName, error);
    if (*error != 0)
        return AccessCopy::Failed;

    // User attributes before the mode, which may leave the owner without the write access that
    // setting them needs.
    AccessCopy result = AccessCopy::Kept;
    for (const std::string& name : userAttributeNames(sourceFd)) {
        int readError = 0;
        const std::vector<char> value = attribute(sourceFd, name.c_str(), &readError);
        if (readError != 0 || ::fsetxattr(copyFd, name.c_str(), value.data(), value.size(), 0) != 0)
            result = AccessCopy::AttributesDropped;
    }

    if (::fchmod(copyFd, mode) != 0) {
        *error = errno;
        return AccessCopy::Failed;
    }
    if (acl.empty() || ::fsetxattr(copyFd, kAclName, acl.data(), acl.size(), 0) == 0)
        return result;
    const unsigned narrowed = narrowedMode(acl, mode);
    if (narrowed != mode && ::fchmod(copyFd, narrowed) != 0) {
        *error = errno;
        return AccessCopy::Failed;
    }
    return AccessCopy::AclReplacedByMode;
}

}  // namespace kw::fs
