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
    const auto failed = [failure](const fs::CopyResult& result) {
        *failure = result.problem == fs::CopyProblem::System
                       ? fs::errorText(result.error)
                       : QStringLiteral("it changed while it was copied");
        return SoundProvided::Failed;
    };
    if (fs::facts(target))
        return SoundProvided::AlreadyThere;
    // A staged copy: the sound gets its name only when all of it is on disk, and a file that
    // appeared meanwhile under that name is kept.
    const PathName path(target);
    fs::StagedCopy copy;
    fs::CopyResult result = copy.begin(shippedSound, path.parentFolder().text());
    if (result.ok())
        result = copy.copy(copy.sourceSize());
    if (result.ok())
        result = copy.commit(path.fileName().text());
    if (result.problem == fs::CopyProblem::NameTaken)
        return SoundProvided::AlreadyThere;
    return result.ok() ? SoundProvided::Copied : failed(result);
}

}  // namespace kw
