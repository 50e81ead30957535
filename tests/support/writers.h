#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

namespace kw::test {

// A second program that writes a file as a download does (tests/helpers/writer.cpp): pieces
// pieces of bytes bytes appended to path, pauseMs apart, the file open all the while.
class Writer {
public:
    Writer(const QString& path, int pieces, qint64 bytes, int pauseMs);
    // Ends the program if it still runs.
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Waits until the program has the file open; false when it did not open it in time.
    bool waitOpened(int timeoutMs = 15000);
    // Waits until the program has closed the file and ended; true when it wrote everything.
    bool waitClosed(int timeoutMs = 30000);
    bool running() const { return m_process.state() != QProcess::NotRunning; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// Lowers CAP_LEASE in this thread while it lives, so that root gets no lease on another user's
// file, as an ordinary user would not.
class WithoutLeaseCapability {
public:
    WithoutLeaseCapability();
    ~WithoutLeaseCapability();
    WithoutLeaseCapability(const WithoutLeaseCapability&) = delete;
    WithoutLeaseCapability& operator=(const WithoutLeaseCapability&) = delete;
    bool active() const { return m_active; }

private:
    bool m_active = false;
};

// Gives path to the user "nobody"; false where this user may not.
bool giveToAnotherUser(const QString& path);

// Runs this test program again as the user "nobody", with only the tests that filter selects;
// answers its output, in which "[  PASSED  ]" counts the tests that passed.
QByteArray runAsOrdinaryUser(const QString& filter);

}  // namespace kw::test
