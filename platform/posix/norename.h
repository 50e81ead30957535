#pragma once

// Renames from (in fromFolder) to to (in toFolder) without ever replacing what is at to. 0,
// EEXIST when to is taken, or errno; a name the file system refuses answers EINVAL, however the
// file system words it.
//
// renameat2 with RENAME_NOREPLACE first. A file system without the flag gets a hard link, which
// fails on a taken name too, and the old name removed. One that has neither (exFAT, FAT, some
// network shares) gets a look-up of the new name and a plain rename at once after it: there a
// file that another program puts under the new name in the microseconds between the two would
// be replaced. Every rename is atomic as far as the file system's own rename is: a crash leaves
// the file under the one name or the other, never a partial file under the new name.
namespace kw::fs {

int renameWithoutReplacing(int fromFolder, const char* from, int toFolder, const char* to);

}  // namespace kw::fs
