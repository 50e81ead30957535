#include "platform/signals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace kw {
namespace {

constexpr int kHandledSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> g_writeEnd{-1};

extern "C" void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = g_writeEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        // A full pipe already holds a pending request; losing this byte changes nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

extern "C" void onBrokenPipe(int) {}

void setHandler(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readEnd = Fd(ends[0]);
    m_writeEnd = Fd(ends[1]);
    int expected = -1;
    if (!g_writeEnd.compare_exchange_strong(expected, m_writeEnd.get()))
        return;

    m_notifier = std::make_unique<QSocketNotifier>(m_readEnd.get(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { readPending(); });

    for (const int signalNumber : kHandledSignals)
        setHandler(signalNumber, onTerminationSignal);
    // A write into a connection whose other end is gone, the display's when the X server dies,
    // fails instead of killing the process unlogged: the toolkit then ends it through exit(),
    // which still writes the log. A handler rather than ignoring: programs started from here get
    // the default back with exec.
    setHandler(SIGPIPE, onBrokenPipe);
    m_installed = true;
}

TerminationSignals::~TerminationSignals() {
    if (!m_installed)
        return;
    for (const int signalNumber : kHandledSignals)
        setHandler(signalNumber, SIG_DFL);
    setHandler(SIGPIPE, SIG_DFL);
    g_writeEnd.store(-1);
}

void TerminationSignals::readPending() {
    unsigned char buffer[16];
    ssize_t count;
    while ((count = ::read(m_readEnd.get(), buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            m_onSignal(buffer[i]);
    }
}

}  // namespace kw
