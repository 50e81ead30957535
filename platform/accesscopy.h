#pragma once

// Who may read a copy: the source's access control list and its user attributes (the address a
// download came from) go with it, so a copy on another file system is open to nobody the source
// was closed to.
namespace kw::fs {

// What the copy could not keep, the most serious first.
enum class AccessCopy {
    Kept,               // mode, access control list and user attributes, as the source has them
    AttributesDropped,  // mode and access control list kept, some user attributes not
    AclReplacedByMode,  // the file system keeps no access control list: the copy got a mode that
                        // grants nobody more than the list did (user attributes may be lost too)
    Failed,             // the copy could not be given a safe mode: it must not be published
};

// Gives the open copy the source's user.* extended attributes, then mode (permission bits) and
// the source's access control list; security.* and trusted.* attributes are never copied. Where
// the copy's file system refuses the list, the copy gets mode narrowed as far as the list
// restricted it. Failed also when the source's list cannot be read; *error then holds errno.
AccessCopy copyAccess(int sourceFd, int copyFd, unsigned mode, int* error = nullptr);

}  // namespace kw::fs
