#pragma once

#include "platform/posix/fd.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace kw {

// SIGTERM, SIGINT and SIGHUP as a Qt signal on the thread that made this object. The handler
// only writes the signal number into a pipe; everything else runs later in the event loop.
// One instance at a time; its destruction restores the default handlers.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool installed() const { return m_installed; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readPending();

    Fd m_readEnd;
    Fd m_writeEnd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
};

}  // namespace kw
