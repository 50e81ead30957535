#include "platform/processes.h"

#include "platform/pathname.h"
#include "platform/posix/fd.h"
#include "platform/textcodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

namespace kw {
namespace {

QByteArray readSmallFile(const QByteArray& path) {
    Fd fd(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    QByteArray bytes;
    if (!fd.valid())
        return bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

QByteArray readLink(const QByteArray& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

QByteArray fileNameOf(const QByteArray& path) {
    return PathName::fromNative(path).fileName().native();
}

bool isRegularFile(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// The executable of a process without the mark of one that was replaced or removed since.
QByteArray executableOf(const QByteArray& processFolder) {
    QByteArray executable = readLink(processFolder + "/exe");
    if (executable.endsWith(" (deleted)"))
        executable.chop(int(std::strlen(" (deleted)")));
    return executable;
}

// The names one process is known by: executable, argv[0] and the script an interpreter runs.
QList<QByteArray> namesOf(const QByteArray& processFolder) {
    QList<QByteArray> names;
    const auto add = [&names](const QByteArray& name) {
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    };

    add(fileNameOf(executableOf(processFolder)));

    const QList<QByteArray> arguments = readSmallFile(processFolder + "/cmdline").split('\0');
    if (!arguments.isEmpty())
        add(fileNameOf(arguments.first()));
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments[i];
        if (argument.isEmpty() || argument.startsWith('-'))
            continue;
        const QByteArray script =
            argument.startsWith('/') ? argument : processFolder + "/cwd/" + argument;
        if (isRegularFile(script))
            add(fileNameOf(argument));
        break;
    }

    // Kernel threads have neither an executable nor arguments; their short name stands in.
    if (names.isEmpty())
        add(readSmallFile(processFolder + "/comm").trimmed());
    return names;
}

bool isProcessId(const char* name) {
    if (!*name)
        return false;
    for (; *name; ++name) {
        if (!std::isdigit(static_cast<unsigned char>(*name)))
            return false;
    }
    return true;
}

// Calls visit(id, inode of its folder, its folder) for every process; false when /proc cannot
// be read.
template <typename Visit>
bool forEachProcess(Visit visit) {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    while (const dirent* entry = ::readdir(proc)) {
        if (isProcessId(entry->d_name))
            visit(QByteArray(entry->d_name).toLongLong(), quint64(entry->d_ino),
                  QByteArray("/proc/") + entry->d_name);
    }
    ::closedir(proc);
    return true;
}

// One of the user's programs; nothing for another user's process, a kernel thread or one that
// has ended.
std::optional<UserProcess> userProcessOf(qint64 id, const QByteArray& folder, uid_t user) {
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0 || st.st_uid != user)
        return std::nullopt;
    const QByteArray executable = executableOf(folder);
    QByteArray name = fileNameOf(executable);
    if (name.isEmpty()) {
        // Kernel threads and ended processes have no arguments; everything else does.
        if (readSmallFile(folder + "/cmdline").isEmpty())
            return std::nullopt;
        name = readSmallFile(folder + "/comm").trimmed();
    }
    if (name.isEmpty())
        return std::nullopt;
    return UserProcess{id, decodeLocal(name), decodeLocal(executable)};
}

// Whether the flags in /proc/PID/stat mark a kernel thread (PF_KTHREAD); false when the process
// has ended. A program the kernel starts itself (init, a helper) has no mark since Linux 6.0;
// before, it lost the mark as it started, and ran as root, never as the user.
bool isKernelThread(const QByteArray& processFolder) {
    constexpr qulonglong kKernelThread = 0x00200000;
    const QByteArray stat = readSmallFile(processFolder + "/stat");
    // The short name in brackets may hold blanks and brackets itself; it ends at the last ")".
    const qsizetype nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0)
        return false;
    // State, parent, group, session, terminal, its group, then the flags.
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    return fields.size() > 6 && (fields[6].toULongLong() & kKernelThread) != 0;
}

}  // namespace

bool EnumRunningProcesses(QStringList& names, QList<qint64>& ids) {
    names.clear();
    ids.clear();
    return forEachProcess([&](qint64 id, quint64, const QByteArray& folder) {
        for (const QByteArray& name : namesOf(folder)) {
            names.append(decodeLocal(name));
            ids.append(id);
        }
    });
}

std::optional<std::vector<UserProcess>> ListUserProcesses() {
    const uid_t user = ::getuid();
    std::vector<UserProcess> processes;
    const bool listed = forEachProcess([&](qint64 id, quint64, const QByteArray& folder) {
        if (std::optional<UserProcess> process = userProcessOf(id, folder, user))
            processes.push_back(std::move(*process));
    });
    return listed ? std::optional(std::move(processes)) : std::nullopt;
}

std::optional<std::vector<UserProcess>> UserProcessLister::List() {
    const uid_t user = ::getuid();
    std::vector<UserProcess> processes;
    QHash<qint64, Seen> seen;
    seen.reserve(m_seen.size());
    const bool listed = forEachProcess([&](qint64 id, quint64 inode, const QByteArray& folder) {
        // Inode 1 is the one /proc gives when it could not make a folder's own.
        const auto known = m_seen.constFind(id);
        const bool same = inode > 1 && known != m_seen.cend() && known->inode == inode;
        const bool kernelThread = same ? known->kernelThread : isKernelThread(folder);
        if (inode > 1)
            seen.insert(id, {inode, kernelThread});
        if (kernelThread)
            return;
        if (std::optional<UserProcess> process = userProcessOf(id, folder, user))
            processes.push_back(std::move(*process));
    });
    if (!listed)
        return std::nullopt;
    m_seen = std::move(seen);
    return processes;
}

}  // namespace kw
