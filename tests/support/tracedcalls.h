#pragma once

#include "tests/support/launch.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace kw::test {

// strace attached to the thread of this process that does the file work (the engine's pass
// thread while an engine runs, else the main thread), never to the programs it starts: the
// calls named in trace are printed as they are entered, and injections (strace's "-e inject="
// values, e.g. "syncfs:delay_enter=800000" or "fsync:error=EIO") change them. An action given to
// onCall runs in a thread of its own the moment a call is entered whose text contains a given
// string, while strace holds that call back for its delay: that is how a test puts a second
// process's deed between two calls of the code under test. Detached when it goes.
// Must be made in the main thread.
class TracedCalls {
public:
    TracedCalls(const QString& trace, const QStringList& injections);
    ~TracedCalls();
    TracedCalls(const TracedCalls&) = delete;
    TracedCalls& operator=(const TracedCalls&) = delete;

    // Empty once strace is attached; otherwise why it is not.
    const QString& why() const { return m_why; }
    // Runs action once, for the first call entered whose text so far contains text.
    void onCall(const QString& text, std::function<void()> action);
    // Runs action for every call entered, with the call's text so far.
    void onEveryCall(std::function<void(const QString&)> action);
    // Every call printed so far.
    QStringList calls();

private:
    struct Once {
        QString text;
        std::function<void()> action;
        bool done = false;
    };
    void read();
    void seen(const QString& text, bool entered);

    pid_t m_strace = -1;
    int m_output = -1;
    QString m_why;
    std::mutex m_mutex;
    std::vector<Once> m_once;
    std::function<void(const QString&)> m_every;
    QStringList m_calls;
    std::thread m_reader;
};

// Holds back the write-back the copy starts after each chunk for delayMs, so that a copy runs long
// enough for what a test does meanwhile; why() says when it cannot.
std::unique_ptr<TracedCalls> slowChunks(int delayMs);

}  // namespace kw::test
