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

// strace attached to the thread that does the file work (the engine's pass thread, else the main
// thread), made in the main thread: the calls named in trace, changed by injections ("-e inject="
// values, e.g. "fsync:error=EIO" or "syncfs:delay_enter=800000"). An action runs the moment a call
// is entered, while strace holds it back for its delay: that is how a test puts a second process's
// deed between two calls of the code under test.
class TracedCalls {
public:
    TracedCalls(const QString& trace, const QStringList& injections);
    ~TracedCalls();
    TracedCalls(const TracedCalls&) = delete;
    TracedCalls& operator=(const TracedCalls&) = delete;

    const QString& why() const { return m_why; }  // empty once strace is attached
    // Runs action once, for the first call entered whose text so far contains text.
    void onCall(const QString& text, std::function<void()> action);
    // Runs action for every call entered, with the call's text so far.
    void onEveryCall(std::function<void(const QString&)> action);
    QStringList calls();  // every call printed so far

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
    int m_input = -1;
    QString m_why;
    std::mutex m_mutex;
    std::vector<Once> m_once;
    std::function<void(const QString&)> m_every;
    QStringList m_calls;
    std::thread m_reader;
};

// Whether an engine's file-work thread runs under its name: a thread just started still bears the
// process's, and a trace made then would follow the main thread.
bool fileWorkThreadNamed();

// Holds back the write-back the copy starts after each chunk for delayMs, so that a copy runs long
// enough for what a test does meanwhile; why() says when it cannot.
std::unique_ptr<TracedCalls> slowChunks(int delayMs);

}  // namespace kw::test
