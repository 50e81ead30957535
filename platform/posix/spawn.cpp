#include "platform/spawn.h"

#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kw {

bool StartDetached(const QString& program, const QStringList& arguments,
                   const QString& workingFolder) {
    // Everything the new process needs is made before fork: after it only exec-safe calls run.
    std::vector<QByteArray> words{encodeLocal(program)};
    for (const QString& argument : arguments)
        words.push_back(encodeLocal(argument));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const QByteArray folder = encodeLocal(workingFolder);

    // The grandchild reports a failed exec through this pipe; a successful exec closes it.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);

    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        if (!folder.isEmpty() && ::chdir(folder.constData()) != 0) {
            const int error = errno;
            (void)!::write(writeEnd.get(), &error, sizeof error);
            ::_exit(127);
        }
        ::execv(argv[0], argv.data());
        const int error = errno;
        (void)!::write(writeEnd.get(), &error, sizeof error);
        ::_exit(127);
    }
    ::close(writeEnd.release());
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n = 0;
    do {
        n = ::read(readEnd.get(), &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    return n == 0;
}

}  // namespace kw
