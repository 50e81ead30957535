#include "app/installeddata.h"

#include "platform/filecopy.h"
#include "platform/fs.h"
#include "platform/pathname.h"

namespace kw {

QString installedDataFolder(const QString& executablePath, const QString& dataFromBinDir) {
    const QString executableFolder = PathName(executablePath).parentFolder().text();
    const QString folder = executableFolder + dataFromBinDir;
    return fs::isDirectory(folder) ? fs::canonicalPath(folder) + u'/' : QString();
}

SoundProvided provideSound(const QString& shippedSound, const QString& target, QString* failure) {
    const auto failed = [failure](int error) {
        *failure =
            error > 0 ? fs::errorText(error) : QStringLiteral("it changed while it was copied");
        return SoundProvided::Failed;
    };
    if (fs::facts(target))
        return SoundProvided::AlreadyThere;
    // A staged copy: the sound gets its name only when all of it is on disk, and a file that
    // appeared meanwhile under that name is kept.
    const PathName path(target);
    fs::StagedCopy copy;
    if (const int error = copy.begin(shippedSound, path.parentFolder().text()))
        return failed(error);
    if (const int error = copy.copy(copy.sourceSize()))
        return failed(error);
    const int error = copy.commit(path.fileName().text());
    if (fs::problemOf(error) == fs::Problem::Exists)
        return SoundProvided::AlreadyThere;
    return error == 0 ? SoundProvided::Copied : failed(error);
}

}  // namespace kw
