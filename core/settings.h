#pragma once

#include "core/copyregister.h"
#include "core/folderpairs.h"
#include "core/textarray.h"

#include <QString>

namespace kw {

inline constexpr char kProgramTitle[] = "Kopierwart";
// Long enough for a download that closes its file and opens it again to go on.
inline constexpr qint32 kDefaultQuietSeconds = 5;
inline constexpr qint32 kMaxQuietSeconds = 3600;

// The settings record: paths of the file set, the two folders and the persisted settings.
struct Settings {
    QString Path;  // data folder, ends with "/"
    QString INI;
    QString Source;           // watched folder, ends with "/" when set; empty: not set
    QString Destination;      // destination folder, as Source
    qint32 ControlColor = 0;  // 0x00BBGGRR
    QString BlockedExtensionsFile;
    double SavedMegabytes = 0;  // megabytes saved since the statistics began
    qint64 SavedFileCount = 0;  // files saved since the statistics began
    QString Log;
    QString ProgramTitle;
    QString ProgramVersion;
    QString SoundFile;
    QString TaskListFile;
    QString CopyListFile;
    qint32 ScanInterval = 0;  // seconds, 1 to 60
    // Seconds a file written in the watched folder must be left alone by its writers before it
    // moves, and that a file no writer of which can be seen must hold still.
    qint32 QuietSeconds = kDefaultQuietSeconds;
    QString UserP2PListFile;
    // The destination folders used so far and the mark of this installation's temporary copies.
    QString UsedDestinationsFile;
    // The folder pairs beyond Source -> Destination.
    QString PairListFile;
};

// Everything one run keeps in memory: the settings record, the four lists and the pairs.
struct AppData {
    Settings My;
    // The watched folders beyond My.Source, each with its destination.
    QList<FolderPair> Pairs;
    // Further pairs whose folders could not be used in this run; their list file keeps them.
    QList<FolderPair> PairsGivenUp;
    TextArray BlockedExtensions;
    TextArray TaskList;
    CopyRegister CopiedFiles;
    TextArray UserP2PList;
};

// "major.minor.revision" of this build.
QString programVersion();
// The file set of an executable named baseName (its file name without extension) whose data
// lives in dataFolder: the paths of the settings, list and log files.
Settings fileSetFor(const QString& dataFolder, const QString& baseName);
// The executable's file name without its extension ("Kopierwart" for ".../Kopierwart").
QString executableBaseName(const QString& executablePath);

}  // namespace kw
