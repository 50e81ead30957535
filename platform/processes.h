#pragma once

#include <QHash>
#include <QList>
#include <QStringList>

#include <optional>
#include <vector>

namespace kw {

// One snapshot of the running processes: for every process the bare file names it is known by,
// each once, with its process id at the same index in ids. A process is known by the name of
// its executable, of its argv[0], and, when it runs a script (an interpreter whose first
// argument that is not an option names an existing file), by the script's name, so that a
// program that is a shell script counts as running while its interpreter runs it.
// False, with both lists empty, when the snapshot cannot be taken.
bool EnumRunningProcesses(QStringList& names, QList<qint64>& ids);

// A running program of the user who runs us.
struct UserProcess {
    qint64 id = 0;
    QString name;        // the bare name of its executable; the kernel's short name without one
    QString executable;  // the executable's full path; empty when it cannot be read
};

// The current user's processes, kernel threads and ended ones left out; nothing when the
// process table cannot be read.
std::optional<std::vector<UserProcess>> ListUserProcesses();

// ListUserProcesses for a caller that asks every second: the kernel threads, most of a system's
// processes, are recognised once and then passed over, as a kernel thread never turns into a
// program. Every other process is looked at anew in every call, so a program that replaced
// itself (exec) or changed its user is seen as it is now.
class UserProcessLister {
public:
    std::optional<std::vector<UserProcess>> List();

private:
    struct Seen {
        quint64 inode = 0;  // of its folder in /proc: a new process under an old id has another
        bool kernelThread = false;
    };
    // The processes of the last call by id.
    QHash<qint64, Seen> m_seen;
};

}  // namespace kw
