#include "scan/fileoperation.h"

#include "core/files.h"
#include "platform/filecopy.h"
#include "platform/filemove.h"
#include "platform/fs.h"
#include "scan/listing.h"

namespace kw {
namespace {

QString targetPath(const QString& from, const QString& to) {
    if (to.endsWith(QLatin1Char('/')) || fs::isDirectory(to))
        return AddBackslash(to) + FileNameOf(from);
    return to;
}

bool copyFile(const QString& from, const QString& to) {
    fs::StagedCopy copy;
    return copy.begin(from, ParentFolder(to)) == 0 && copy.copy(copy.sourceSize()) == 0 &&
           copy.commit(FileNameOf(to)) == 0;
}

bool moveFile(const QString& from, const QString& to) {
    // Never a file that a program has open for writing, and only the file that was looked at.
    fs::HeldSource source;
    const fs::Hold hold = source.open(from);
    if (hold != fs::Hold::Leased && hold != fs::Hold::Unleased)
        return false;
    const fs::NameResult moved = source.moveTo(to);
    if (moved != fs::NameResult::NeedsCopy)
        return moved == fs::NameResult::Done;
    // Across file systems a move is a copy that proves itself, then the removal of the source.
    fs::StagedCopy copy;
    return copy.begin(source, ParentFolder(to)) == 0 && copy.copy(copy.sourceSize()) == 0 &&
           copy.commit(FileNameOf(to)) == 0 && source.removeName() == fs::NameResult::Done;
}

}  // namespace

bool FileOperation(FileOp operation, const QString& from, const QString& to, bool withFolders) {
    if (from.isEmpty())
        return false;
    switch (operation) {
        case FileOp::Copy:
            if (withFolders && to.endsWith(QLatin1Char('/')) && !CreateFolderPath(to))
                return false;
            return copyFile(from, targetPath(from, to));
        case FileOp::Move:
            return moveFile(from, targetPath(from, to));
        case FileOp::Rename: {
            if (to.isEmpty())
                return false;
            const QString target = to.contains(QLatin1Char('/')) ? to : ParentFolder(from) + to;
            return fs::renameNoReplace(from, target) == 0;
        }
        case FileOp::Delete:
            return fs::removeFile(from) == 0;
    }
    return false;
}

bool FileOperationQuiet(FileOp operation, const QString& from, const QString& to) {
    return FileOperation(operation, from, to, false);
}

}  // namespace kw
