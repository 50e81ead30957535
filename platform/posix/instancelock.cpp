#include "platform/instancelock.h"

#include "platform/textcodec.h"

#include <fcntl.h>
#include <sys/file.h>
#include <cerrno>

namespace kw {

InstanceLock::InstanceLock(const QString& lockFilePath) {
    // Close-on-exec, or every program the task list starts would hold the lock after we end.
    m_fd = Fd(::open(encodeLocal(lockFilePath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!m_fd.valid())
        return;
    int result;
    do {
        result = ::flock(m_fd.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        m_state = State::Held;
    else if (errno == EWOULDBLOCK)
        m_state = State::HeldByOther;
}

}  // namespace kw
