#include "tests/support/teardown.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kw::test {

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

AtTestEnd::AtTestEnd(const QString& shellCommand) {
    const QByteArray command = shellCommand.toLocal8Bit();
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    m_watcher = ::fork();
    if (m_watcher == 0) {
        // Holding no other descriptor, it learns of the test's end whichever way it ends.
        ::dup2(ends[0], 0);
        ::close_range(3, ~0U, 0);
        char byte;
        while (::read(0, &byte, 1) < 0 && errno == EINTR) {
        }
        ::execl("/bin/sh", "sh", "-c", command.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[0]);
    m_watcherPipe = ends[1];
    if (m_watcher < 0)
        ::close(std::exchange(m_watcherPipe, -1));
}

void AtTestEnd::runNow() {
    if (m_watcherPipe < 0)
        return;
    ::close(std::exchange(m_watcherPipe, -1));
    while (::waitpid(m_watcher, nullptr, 0) < 0 && errno == EINTR) {
    }
}

AtTestEnd::~AtTestEnd() {
    runNow();
}

}  // namespace kw::test
