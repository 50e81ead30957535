#include "core/files.h"

#include "platform/fs.h"
#include "platform/pathname.h"
#include "platform/textcodec.h"

#include <QHash>

#include <mutex>

namespace kw {
namespace {

struct UnreadableFiles {
    QStringList paths;
    QHash<QString, int> errors;
};

// Noted and asked for by the file work's thread and the window's alike.
std::mutex unreadableLock;

UnreadableFiles& unreadable() {
    static UnreadableFiles files;
    return files;
}

}  // namespace

void NoteUnreadableDataFile(const QString& path, int error) {
    const std::lock_guard lock(unreadableLock);
    UnreadableFiles& files = unreadable();
    if (error == 0 || files.errors.contains(path))
        return;
    files.paths.append(path);
    files.errors.insert(path, error);
}

int UnreadableDataFileError(const QString& path) {
    const std::lock_guard lock(unreadableLock);
    return unreadable().errors.value(path, 0);
}

QStringList UnreadableDataFiles() {
    const std::lock_guard lock(unreadableLock);
    return unreadable().paths;
}

void ForgetUnreadableDataFiles() {
    const std::lock_guard lock(unreadableLock);
    unreadable() = {};
}

QString AddBackslash(const QString& path) {
    return PathName(path).asFolder().text();
}

bool FileExists(const QString& path) {
    return fs::isReadableFile(path);
}

int DeleteFileForced(const QString& path) {
    if (!FileExists(path))
        return -1;
    return fs::removeFile(path);
}

QString ReadTextFile(const QString& path) {
    const auto bytes = fs::readAll(path);
    if (!bytes)
        return {};
    QByteArrayView view(*bytes);
    if (view.endsWith(kCrLf))
        view.chop(2);
    return decodeLocal(view);
}

int WriteTextFile(const QString& path, const QString& content, bool overwrite) {
    if (const int error = UnreadableDataFileError(path))
        return error;
    if (!overwrite && fs::factsFollowingLinks(path))
        return 0;
    QByteArray bytes = encodeLocal(content);
    bytes.append(kCrLf);
    return fs::replaceAtomically(path, bytes);
}

int SaveListFile(const TextArray& entries, const QString& path) {
    if (!entries)
        return 0;
    return WriteTextFile(path, entries->join(QLatin1String(kCrLf)), true);
}

TextArray LoadListFile(const QString& path) {
    int error = 0;
    const auto bytes = fs::readAll(path, &error);
    if (!bytes) {
        if (fs::problemOf(error) != fs::Problem::Missing)
            NoteUnreadableDataFile(path, error);
        return QStringList{};
    }
    QByteArrayView view(*bytes);
    if (view.endsWith(kCrLf))
        view.chop(2);
    if (view.isEmpty())
        return QStringList{};
    return decodeLocal(view).split(QLatin1String(kCrLf));
}

int ListBoxToArray(const QStringList& lines, TextArray& entries) {
    if (lines.isEmpty()) {
        entries.reset();
        return 9;
    }
    entries = lines;
    return 0;
}

bool FolderExists(const QString& path, bool create) {
    if (!path.isEmpty() && fs::isDirectory(path))
        return true;
    return create && CreateFolderPath(path);
}

bool CreateFolderPath(const QString& path) {
    if (path.isEmpty())
        return false;
    fs::makePath(AddBackslash(path));
    return FolderExists(path, false);
}

}  // namespace kw
