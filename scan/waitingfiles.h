#pragma once

#include "platform/filemove.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

namespace kw {

class EventLog;

// The files that wait in the watched folder, remembered from one tick to the next: why each
// waits (said once in the log while the reason stays) and, for files nothing can vouch for, how
// long each has held still.
class WaitingFiles {
public:
    explicit WaitingFiles(EventLog& log);

    // Logs why a file waits, once while it keeps waiting for that reason.
    void holdBack(const QString& path, const QString& reason);
    // For a file nothing else speaks for: true once it has held still (the same file, size,
    // modification and change time) for longer than stillForNs, as measured by this program's
    // monotonic clock from when it first saw it so. A writer that pauses longer is not told apart
    // from one that has finished.
    bool settled(const QString& path, const fs::Snapshot& look, qint64 stillForNs);
    // A file that waits for the same reason as before, without being looked at again: what was
    // said of it stays said.
    void stillHeldBack(const QString& path);
    // A pass that looked at no file, as nothing changed: everything is carried over.
    void keepAll();
    // The bookkeeping of this pass carried over to the next; a pass that ended early did not
    // look at every file, and what it did not see is kept.
    void keepLooks(bool passCompleted);

private:
    struct Look {
        fs::Snapshot snapshot;
        qint64 stillSinceMs = 0;
    };

    EventLog& m_log;
    QElapsedTimer m_clock;
    QHash<QString, Look> m_looks;
    QHash<QString, Look> m_looksNow;
    QHash<QString, QString> m_heldBack;
    QHash<QString, QString> m_heldBackNow;
};

}  // namespace kw
