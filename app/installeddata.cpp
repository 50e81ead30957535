#include "app/installeddata.h"

#include "platform/filecopy.h"
#include "platform/fs.h"

#include <cerrno>

namespace kw {

QString installedDataFolder(const QString& executablePath, const QString& dataFromBinDir) {
    const QString executableFolder = executablePath.left(executablePath.lastIndexOf(u'/') + 1);
    const QString folder = executableFolder + dataFromBinDir;
    return fs::isDirectory(folder) ? fs::canonicalPath(folder) + u'/' : QString();
}

int provideSound(const QString& shippedSound, const QString& target) {
    const qsizetype slash = target.lastIndexOf(u'/');
    if (slash < 0)
        return EINVAL;
    if (fs::facts(target))
        return EEXIST;
    // A staged copy: the sound gets its name only when all of it is on disk, and a file that
    // appeared meanwhile under that name is kept.
    fs::StagedCopy copy;
    if (const int error = copy.begin(shippedSound, target.left(slash + 1)))
        return error;
    if (const int error = copy.copy(copy.sourceSize()))
        return error;
    return copy.commit(target.mid(slash + 1));
}

}  // namespace kw
