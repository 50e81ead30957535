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

}  // namespace

bool EnumRunningProcesses(QStringList& names, QList<qint64>& ids) {
    names.clear();
    ids.clear();
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    while (const dirent* entry = ::readdir(proc)) {
        if (!isProcessId(entry->d_name))
            continue;
        const qint64 id = QByteArray(entry->d_name).toLongLong();
        for (const QByteArray& name : namesOf(QByteArray("/proc/") + entry->d_name)) {
            names.append(decodeLocal(name));
            ids.append(id);
        }
    }
    ::closedir(proc);
    return true;
}

std::optional<std::vector<UserProcess>> ListUserProcesses() {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return std::nullopt;
    const uid_t user = ::getuid();
    std::vector<UserProcess> processes;
    while (const dirent* entry = ::readdir(proc)) {
        if (!isProcessId(entry->d_name))
            continue;
        const QByteArray folder = QByteArray("/proc/") + entry->d_name;
        struct stat st {};
        if (::stat(folder.constData(), &st) != 0 || st.st_uid != user)
            continue;
        const QByteArray executable = executableOf(folder);
        QByteArray name = fileNameOf(executable);
        if (name.isEmpty()) {
            // Kernel threads and ended processes have no arguments; everything else does.
            if (readSmallFile(folder + "/cmdline").isEmpty())
                continue;
            name = readSmallFile(folder + "/comm").trimmed();
        }
        if (!name.isEmpty())
            processes.push_back({QByteArray(entry->d_name).toLongLong(), decodeLocal(name),
                                 decodeLocal(executable)});
    }
    ::closedir(proc);
    return processes;
}

}  // namespace kw
