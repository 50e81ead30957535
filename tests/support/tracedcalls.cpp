#include "tests/support/tracedcalls.h"

#include "tests/support/qtapp.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace kw::test {
namespace {

// The engine's "pass" thread, where one runs; else the main thread.
pid_t workingThread() {
    pid_t found = ::getpid();
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "pass")
            found = std::max<pid_t>(found, task.toInt());  // the newest engine's
    }
    return found;
}

bool traced(pid_t thread) {
    QFile status(QStringLiteral("/proc/self/task/%1/status").arg(thread));
    return status.open(QIODevice::ReadOnly) && !status.readAll().contains("TracerPid:\t0\n");
}

}  // namespace

bool fileWorkThreadNamed() {
    return workingThread() != ::getpid();
}

std::unique_ptr<TracedCalls> slowChunks(int delayMs) {
    return std::make_unique<TracedCalls>(
        QStringLiteral("sync_file_range"),
        QStringList{QStringLiteral("sync_file_range:delay_enter=%1").arg(delayMs * 1000)});
}

TracedCalls::TracedCalls(const QString& trace, const QStringList& injections) {
    if (::gettid() != ::getpid()) {
        m_why = QStringLiteral("not made in the main thread");
        return;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_why = QStringLiteral("no pipe");
        return;
    }
    // Without -f: programs the test starts are not traced. strace opens the pipe's kept end by
    // path.
    const pid_t thread = workingThread();
    QStringList argv{"strace", "-qq",
                     "-o",     QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(pipeFds[1]),
                     "-p",     QString::number(thread),
                     "-e",     "trace=" + trace};
    for (const QString& injection : injections)
        argv << "-e"
             << "inject=" + injection;
    m_strace = startProgram(argv);
    m_output = pipeFds[0];
    m_input = pipeFds[1];
    m_reader = std::thread([this] { read(); });
    if (m_strace < 0 || !waitUntil([thread] { return traced(thread); }, 10'000))
        m_why = QStringLiteral("strace did not attach");
}

TracedCalls::~TracedCalls() {
    if (m_strace > 0) {
        ::kill(m_strace, SIGTERM);  // strace detaches and lets every held call go on
        while (::waitpid(m_strace, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_input >= 0)
        ::close(m_input);  // the reader sees the pipe's end
    if (m_reader.joinable())
        m_reader.join();
    if (m_output >= 0)
        ::close(m_output);
}

void TracedCalls::onCall(const QString& text, std::function<void()> action) {
    std::lock_guard lock(m_mutex);
    m_once.push_back({text, std::move(action)});
}

void TracedCalls::onEveryCall(std::function<void(const QString&)> action) {
    std::lock_guard lock(m_mutex);
    m_every = std::move(action);
}

QStringList TracedCalls::calls() {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

void TracedCalls::read() {
    // strace prints a call when it is entered and its result when it returns: acted on as it comes.
    QByteArray line;
    qsizetype actedOn = 0;  // how much of line was already shown to the actions
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_output, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        line.append(buffer, n);
        for (;;) {
            const qsizetype end = line.indexOf('\n');
            const QByteArray part = end < 0 ? line : line.left(end);
            // A call is entered once its opening parenthesis and first argument show.
            if (part.size() > actedOn && part.contains('(') && !part.startsWith("---")) {
                seen(QString::fromLocal8Bit(part), actedOn == 0);
                actedOn = part.size();
            }
            if (end < 0)
                break;
            {
                std::lock_guard lock(m_mutex);
                m_calls.append(QString::fromLocal8Bit(line.left(end)));
            }
            line.remove(0, end + 1);
            actedOn = 0;
        }
    }
}

void TracedCalls::seen(const QString& text, bool entered) {
    std::vector<std::function<void()>> due;
    std::function<void(const QString&)> every;
    {
        std::lock_guard lock(m_mutex);
        for (Once& once : m_once) {
            if (!once.done && text.contains(once.text)) {
                once.done = true;
                due.push_back(once.action);
            }
        }
        if (entered)
            every = m_every;
    }
    for (const auto& action : due)
        action();
    if (every)
        every(text);
}

}  // namespace kw::test
