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

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kHandledSignals)
        ::sigaction(signalNumber, &action, nullptr);
    m_installed = true;
}

TerminationSignals::~TerminationSignals() {
    if (!m_installed)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : kHandledSignals)
        ::sigaction(signalNumber, &action, nullptr);
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
