#pragma once

#include "tests/support/launch.h"

#include <QString>

namespace kw::test {

// A shell command that undoes a test's set-up (an unmount, a server): run when the object goes,
// or by a watcher process when the test process is killed.
class AtTestEnd {
public:
    explicit AtTestEnd(const QString& shellCommand);
    ~AtTestEnd();
    AtTestEnd(const AtTestEnd&) = delete;
    AtTestEnd& operator=(const AtTestEnd&) = delete;

    void runNow();  // once, and waits for it

private:
    pid_t m_watcher = -1;  // becomes the shell when m_watcherPipe closes, by any cause
    int m_watcherPipe = -1;
};

// Single quotes for a shell.
QString shellQuoted(const QString& text);
// A folder without the slash the tests' folders end with, as mount names it.
QString withoutTrailingSlash(QString folder);

}  // namespace kw::test
