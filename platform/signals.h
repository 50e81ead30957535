#pragma once

#include "platform/filehandle.h"

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kw {

// SIGTERM, SIGINT and SIGHUP handed to onSignal in the event loop of the thread that made this
// object. The handler only writes the signal number into a pipe; everything else runs later.
// SIGPIPE ends the process no more: the write that met a closed connection fails instead.
// One instance at a time; its destruction restores the default handlers.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int signalNumber)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool installed() const { return m_installed; }

private:
    void readPending();

    std::function<void(int)> m_onSignal;
    Fd m_readEnd;
    Fd m_writeEnd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
};

}  // namespace kw
