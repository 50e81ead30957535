#pragma once

#include <QString>

namespace kw {

struct DataFolder {
    QString path;  // ends with "/"
    bool besideExecutable = true;
};

// The program keeps its settings, lists and log beside the executable when it may write there
// and is not installed (installeddata.h); otherwise it uses "Kopierwart/" in the user's
// configuration folder (configHome, i.e. $XDG_CONFIG_HOME, when it is an absolute path, else home +
// "/.config"), which is created when missing.
DataFolder prepareDataFolder(const QString& executablePath, const QString& configHome,
                             const QString& home);

}  // namespace kw
