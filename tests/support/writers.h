#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QThread>
#include <QString>

namespace kw::test {

// A second program that writes a file as a download does (tests/helpers/writer.cpp): pieces
// pieces of bytes bytes appended to path, pauseMs apart, the file open all the while.
class Writer {
public:
    Writer(const QString& path, int pieces, qint64 bytes, int pauseMs);
    // Pauses of differing lengths, taken in turn.
    Writer(const QString& path, int pieces, qint64 bytes, const QList<int>& pausesMs);
    ~Writer();  // ends the program if it still runs

    // Waits until the program has the file open; false when it did not open it in time.
    bool waitOpened();
    // Waits until the program has closed the file and ended; true when it wrote everything.
    bool waitClosed();
    bool running() const { return m_process.state() != QProcess::NotRunning; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// A program that runs, doing nothing, under an executable name of the test's choosing: a copy of
// sleep in folder. It ends with the object, or with the test run.
class NamedProgram {
public:
    NamedProgram(const QString& folder, const QString& name);
    ~NamedProgram();

    // Waits until it runs as one of the user's processes; false when it does not in time.
    bool waitRunning();
    // Ends it and waits until it has gone.
    void end();

    const QString path;

private:
    QProcess m_process;
};

// Capabilities belong to threads: the ones below change this thread's and that of the file work
// of every engine a test rig runs (registered here while the rig lives).
void registerFileWorkThread(QThread* thread);
void unregisterFileWorkThread(QThread* thread);
// Raises or lowers a capability in the effective sets of this thread and the file work's; false
// when that cannot be done.
bool setCapability(int capability, bool on);
// The same for CAP_LEASE.
bool setLeaseCapability(bool on);

// Lowers CAP_LEASE while it lives, so that root gets no lease on another user's file, as an
// ordinary user would not.
class WithoutLeaseCapability {
public:
    WithoutLeaseCapability() : m_active(setLeaseCapability(false)) {}
    ~WithoutLeaseCapability() {
        if (m_active)
            setLeaseCapability(true);
    }
    bool active() const { return m_active; }

private:
    bool m_active;
};

// Gives path to the user "nobody"; false where this user may not.
bool giveToAnotherUser(const QString& path);

}  // namespace kw::test
