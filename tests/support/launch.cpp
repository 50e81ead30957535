#include "tests/support/launch.h"

#include "platform/textcodec.h"
#include "tests/support/files.h"

#include <QDeadlineTimer>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

extern char** environ;

namespace kw::test {

std::optional<Account> Account::ensure(const QString& name, bool withHome) {
    if (!getpwnam(name.toLocal8Bit().constData()))
        runProgram("useradd", {withHome ? "-m" : "-M", "--shell", "/usr/sbin/nologin", name});
    const passwd* user = getpwnam(name.toLocal8Bit().constData());
    if (!user)
        return std::nullopt;
    return Account{name, user->pw_uid, user->pw_gid, QString::fromLocal8Bit(user->pw_dir)};
}

bool launch(QProcess& process, const Launch& launch) {
    const QStringList command = launch.wrapper + launch.command;
    process.setProcessEnvironment(launch.environment);
    process.setChildProcessModifier([user = launch.user, group = launch.ownGroup,
                                     folder = encodeLocal(launch.folder)] {
        if (group)
            ::setsid();
        if (user &&
            (::setgroups(0, nullptr) != 0 || ::setgid(user->gid) != 0 || ::setuid(user->uid) != 0))
            ::_exit(126);
        // After the change of user, which clears it.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (!folder.isEmpty() && ::chdir(folder.constData()) != 0)
            ::_exit(127);
    });
    process.start(command.first(), command.mid(1));
    return process.waitForStarted();
}

std::unique_ptr<QProcess> launched(const Launch& how) {
    auto process = std::make_unique<QProcess>();
    launch(*process, how);
    return process;
}

void endGroup(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(-pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(3000)) {
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished(3000);
    }
}

pid_t childOf(qint64 process) {
    const QByteArray children =
        bytesOf(QStringLiteral("/proc/%1/task/%1/children").arg(process)).trimmed();
    return children.isEmpty() ? -1 : pid_t(children.split(' ').first().toInt());
}

QString runProgram(const QString& program, const QStringList& arguments, int timeoutMs,
                   QString* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return program + QLatin1String(" did not run: ") + process.errorString();
    }
    const QString said = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = said;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QLatin1String(" failed: ") + said;
    return {};
}

QString outputOf(const QString& program, const QStringList& arguments) {
    QString output;
    runProgram(program, arguments, 120'000, &output);
    return output;
}

pid_t startProgram(const QStringList& argv, int stderrFd) {
    std::vector<QByteArray> bytes;
    for (const QString& arg : argv)
        bytes.push_back(arg.toLocal8Bit());
    std::vector<char*> args;
    for (QByteArray& arg : bytes)
        args.push_back(arg.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stderrFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

int runToEnd(const QStringList& argv) {
    const pid_t pid = startProgram(argv);
    if (pid < 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void endProgram(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

pid_t holdOpenForWriting(const QString& path) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    // The line on its error output says the file is open.
    const pid_t pid = startProgram(
        {"sh", "-c", "exec 3>>\"$0\"; echo >&2; exec sleep 60 2>/dev/null", path}, ends[1]);
    ::close(ends[1]);
    // Signals (a lease being broken) may cut the wait short; it goes on until its deadline.
    pollfd said{ends[0], POLLIN, 0};
    char byte = 0;
    bool opened = false;
    for (const QDeadlineTimer deadline(10'000); pid > 0 && !deadline.hasExpired();) {
        if (::poll(&said, 1, int(deadline.remainingTime())) == 1) {
            opened = ::read(ends[0], &byte, 1) == 1;
            break;
        }
    }
    ::close(ends[0]);
    if (opened)
        return pid;
    endProgram(pid);
    return -1;
}

}  // namespace kw::test
