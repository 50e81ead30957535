// A user quota where the kernel offers none: loaded with LD_PRELOAD, it refuses writes into files
// below the folder named by KW_TEST_QUOTA_FULL with EDQUOT while that variable is set, whatever
// the file system has free, and counts the refusals.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

int kw_quota_refusals = 0;

static int full(int fd) {
    const char* below = getenv("KW_TEST_QUOTA_FULL");
    if (!below || !*below)
        return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = 0;
    if (strncmp(path, below, strlen(below)) != 0)
        return 0;
    __atomic_add_fetch(&kw_quota_refusals, 1, __ATOMIC_SEQ_CST);
    errno = EDQUOT;
    return 1;
}

ssize_t write(int fd, const void* buffer, size_t count) {
    static ssize_t (*real)(int, const void*, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    return count > 0 && full(fd) ? -1 : real(fd, buffer, count);
}

ssize_t copy_file_range(int in, off_t* inOffset, int out, off_t* outOffset, size_t count,
                        unsigned flags) {
    static ssize_t (*real)(int, off_t*, int, off_t*, size_t, unsigned);
    if (!real)
        real = (ssize_t(*)(int, off_t*, int, off_t*, size_t, unsigned))dlsym(RTLD_NEXT,
                                                                             "copy_file_range");
    return count > 0 && full(out) ? -1 : real(in, inOffset, out, outOffset, count, flags);
}
