#include "core/settings.h"

#include "core/files.h"
#include "platform/pathname.h"

namespace kw {

QString programVersion() {
    return QStringLiteral("%1.%2.%3")
        .arg(KOPIERWART_VERSION_MAJOR)
        .arg(KOPIERWART_VERSION_MINOR)
        .arg(KOPIERWART_VERSION_PATCH);
}

QString executableBaseName(const QString& executablePath) {
    return PathName(executablePath).baseName().text();
}

Settings fileSetFor(const QString& dataFolder, const QString& baseName) {
    Settings my;
    my.Path = AddBackslash(dataFolder);
    my.Log = my.Path + baseName + QLatin1String(".Log");
    my.INI = my.Path + baseName + QLatin1String(".ini");
    my.BlockedExtensionsFile = my.Path + baseName + QLatin1String(".cfg");
    my.TaskListFile = my.Path + baseName + QLatin1String(".task");
    my.CopyListFile = my.Path + baseName + QLatin1String(".Copy");
    my.UserP2PListFile = my.Path + baseName + QLatin1String(".Tasklst");
    my.UsedDestinationsFile = my.Path + baseName + QLatin1String(".Targets");
    my.PairListFile = my.Path + baseName + QLatin1String(".Pairlst");
    return my;
}

}  // namespace kw
