#pragma once

#include "platform/filehandle.h"

#include <QString>

namespace kw {

// One running program per data folder. The lock is an flock on a file in that folder: the
// kernel drops it when the holder ends in any way, so a killed process never blocks a start.
class InstanceLock {
public:
    enum class State { Held, HeldByOther, Unavailable };

    // Opens (creating when missing) the lock file and tries to take it without waiting.
    // A lock file that already exists is opened without being changed.
    explicit InstanceLock(const QString& lockFilePath);

    State state() const { return m_state; }

private:
    Fd m_fd;
    State m_state = State::Unavailable;
};

}  // namespace kw
