#include "app/datafolder.h"

#include "app/installeddata.h"
#include "core/files.h"
#include "platform/fs.h"
#include "platform/pathname.h"

namespace kw {

DataFolder prepareDataFolder(const QString& executablePath, const QString& configHome,
                             const QString& home) {
    const QString executableFolder = PathName(executablePath).parentFolder().text();
    // An installed program never writes into its installation, not even run by the superuser.
    if (installedDataFolder(executablePath).isEmpty() && fs::isWritableFolder(executableFolder))
        return {executableFolder, true};
    const QString configFolder = configHome.startsWith(QLatin1Char('/'))
                                     ? configHome
                                     : AddBackslash(home) + QLatin1String(".config");
    const QString folder = AddBackslash(configFolder) + QLatin1String("Kopierwart/");
    fs::makePath(folder);
    return {folder, false};
}

}  // namespace kw
