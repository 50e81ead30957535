#include "app/installeddata.h"

#include "platform/filecopy.h"
#include "platform/fs.h"

namespace kw {

QString installedDataFolder(const QString& executablePath, const QString& dataFromBinDir) {
    const QString executableFolder = executablePath.left(executablePath.lastIndexOf(u'/') + 1);
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
    const qsizetype slash = target.lastIndexOf(u'/');
    fs::StagedCopy copy;
    fs::CopyResult result = copy.begin(shippedSound, target.left(slash + 1));
    if (result.ok())
        result = copy.copy(copy.sourceSize());
    if (result.ok())
        result = copy.commit(target.mid(slash + 1));
    if (result.problem == fs::CopyProblem::NameTaken)
        return SoundProvided::AlreadyThere;
    return result.ok() ? SoundProvided::Copied : failed(result);
}

}  // namespace kw
