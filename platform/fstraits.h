#pragma once

#include <QtGlobal>

// What a file system lets the program rely on, asked through an open file or folder.
namespace kw::fs {

struct FileSystemTraits {
    // A read lease there proves no program has the file open for writing. Not so on network
    // file systems, whose other clients write without breaking it, nor on FUSE, whose daemon
    // writes past the kernel.
    bool leasesProve = false;
    // How long a file must hold still (size and times unchanged) before it counts as finished:
    // the file system's time granularity, or 2 s where it is coarse or not known for sure.
    int stillSeconds = 2;
    bool network = false;
    // A watch on a folder there hears of every change to its files. Not so where the changes are
    // made past this machine's kernel: by a network file system's other clients or a FUSE daemon.
    bool watchSeesEveryWriter = false;
};

// The traits of the file system that holds the open file or folder fd; the cautious ones (no
// lease proof, 2 s) when it cannot be asked or is not known.
FileSystemTraits traitsOf(int fd);

// Whether this process may make files in the open folder now: 0, EROFS for a read-only mount,
// or the errno of the access check (EACCES).
int folderWritable(int folderFd);

// How many more files this process may open before it meets its limit (RLIMIT_NOFILE); -1 when
// that cannot be told.
qint64 descriptorsLeft();

}  // namespace kw::fs
