#pragma once

#include "tests/support/launch.h"

#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace kw::test {

// A shell command that undoes what a test set up (an unmount, a stopped server): run when the
// object goes, also when the test fails, and by a watcher process when the test process is
// killed, so that no mount or server outlives the test run.
class AtTestEnd {
public:
    explicit AtTestEnd(const QString& shellCommand);
    ~AtTestEnd();
    AtTestEnd(const AtTestEnd&) = delete;
    AtTestEnd& operator=(const AtTestEnd&) = delete;

    // Runs the command now, once; the watcher then has nothing left to do.
    void runNow();

private:
    QByteArray m_command;
    pid_t m_watcher = -1;
    int m_watcherPipe = -1;  // the watcher runs the command when this closes, by any cause
    bool m_done = false;
};

// Single quotes for a shell.
QString shellQuoted(const QString& text);
// A folder as mount, bind and rename name it: without the slash the tests' folders end with.
QString withoutTrailingSlash(QString folder);

}  // namespace kw::test
