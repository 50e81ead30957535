#include "tests/support/teardown.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace kw::test {
namespace {

void runShell(const QByteArray& command) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", command.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace

QString shellQuoted(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString withoutTrailingSlash(QString folder) {
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

AtTestEnd::AtTestEnd(const QString& shellCommand) : m_command(shellCommand.toLocal8Bit()) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[0], 0);
        // Holding no other descriptor, it learns of the test's end whichever way it ends.
        ::close_range(3, ~0U, 0);
        char byte;
        ssize_t got;
        while ((got = ::read(0, &byte, 1)) != 0 && got < 0 && errno == EINTR) {
        }
        // A byte means the test ran the command itself.
        if (got == 0)
            runShell(m_command);
        ::_exit(0);
    }
    ::close(ends[0]);
    if (pid < 0) {
        ::close(ends[1]);
        return;
    }
    m_watcher = pid;
    m_watcherPipe = ends[1];
}

void AtTestEnd::runNow() {
    if (m_done)
        return;
    m_done = true;
    runShell(m_command);
    if (m_watcherPipe >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_watcherPipe, &byte, 1);
    }
}

AtTestEnd::~AtTestEnd() {
    runNow();
    if (m_watcherPipe >= 0)
        ::close(m_watcherPipe);
    if (m_watcher > 0)
        ::waitpid(m_watcher, nullptr, 0);
}

}  // namespace kw::test
