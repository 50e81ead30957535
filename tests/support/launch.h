#pragma once

// Every process a test starts, as root or another user, under a wrapper or not; each dies with
// the test process.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include <sys/types.h>

namespace kw::test {

// An ordinary user of this machine; added (without a home unless asked) where it is missing.
struct Account {
    static std::optional<Account> ensure(const QString& name, bool withHome = false);
    QString name;
    uid_t uid = 0;
    gid_t gid = 0;
    QString home;
};

struct Launch {
    QStringList command;  // the program and its arguments
    QString folder;       // the working folder, entered by its bytes; empty: this one
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::optional<Account> user;  // as this user, who must reach the program and folder
    QStringList wrapper;          // put before the command, e.g. strace with its options
    bool ownGroup = false;        // a process group of its own, so endGroup reaches all it starts
};

// Starts launch in process; false when it did not start.
bool launch(QProcess& process, const Launch& launch);
std::unique_ptr<QProcess> launched(const Launch& launch);
// SIGTERM to the process's group, SIGKILL if it lingers.
void endGroup(QProcess& process);
// The first child of a process, as a wrapper (strace) started it; -1 when it has none.
pid_t childOf(qint64 process);

// Runs a program to its end: empty text when it ended with 0, else what went wrong and its output.
QString runProgram(const QString& program, const QStringList& arguments, int timeoutMs = 60'000,
                   QString* output = nullptr);
// What a program wrote (both channels), however it ended.
QString outputOf(const QString& program, const QStringList& arguments);

// From any thread (no Qt event loop needed): runs a program to its end; its exit status, or -1.
int runToEnd(const QStringList& argv);
// Its process id, or -1; its error output into stderrFd where given.
pid_t startProgram(const QStringList& argv, int stderrFd = -1);
void endProgram(pid_t pid);  // kills and waits
// A program holding path open for writing until endProgram; its id once the file is open, or -1.
pid_t holdOpenForWriting(const QString& path);

}  // namespace kw::test
