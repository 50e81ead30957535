#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QThread>

#include <linux/capability.h>

namespace kw::test {

// A second program appending pieces of bytes to path, pauses apart, the file open all the while.
class Writer {
public:
    Writer(const QString& path, int pieces, qint64 bytes, int pauseMs)
        : Writer(path, pieces, bytes, QList<int>{pauseMs}) {}
    Writer(const QString& path, int pieces, qint64 bytes, const QList<int>& pausesMs);
    ~Writer();  // ends the program if it still runs

    bool waitOpened();
    bool waitClosed();  // true when it wrote everything and ended
    bool running() const { return m_process.state() != QProcess::NotRunning; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// Capabilities belong to threads: these change this thread's and every registered file work's.
void registerFileWorkThread(QThread* thread);
void unregisterFileWorkThread(QThread* thread);
// Raises or lowers an effective capability; false when that cannot be done.
bool setCapability(int capability, bool on);

// Lowers CAP_LEASE while it lives: root then gets no lease on another user's file, as a user would.
class WithoutLeaseCapability {
public:
    WithoutLeaseCapability() : m_active(setCapability(CAP_LEASE, false)) {}
    ~WithoutLeaseCapability() {
        if (m_active)
            setCapability(CAP_LEASE, true);
    }
    bool active() const { return m_active; }

private:
    bool m_active;
};

// Gives path to the user "nobody"; false where this user may not.
bool giveToAnotherUser(const QString& path);

}  // namespace kw::test
