#pragma once

#include "platform/heldfolder.h"

#include <QList>
#include <QString>

namespace kw {

// A watched folder and the destination its files move to, both as the settings hold folders
// (ending with "/").
struct FolderPair {
    QString Source;
    QString Destination;
    bool operator==(const FolderPair&) const = default;
};

// The pairs beyond the main window's own (My.Source -> My.Destination), as their list file
// holds them: one pair a CR LF line, watched folder NUL destination, the bytes of names kept. A
// missing or empty file holds none; a line without its NUL is skipped.
QList<FolderPair> LoadFolderPairs(const QString& path);
// The folders of a pair as they stand now, looked at once for several questions of the rules.
struct PairLineages {
    fs::FolderLineage source;
    fs::FolderLineage destination;
};
PairLineages lineagesOf(const FolderPair& pair);
// True when pair may not be kept beside other: its watched folder is, lies inside or holds
// other's watched folder or destination, or its destination is or lies inside or holds other's
// watched folder. Two destinations may be one. Told by the folders themselves (device and inode,
// walking up), so links and bind mounts do not hide a clash; a folder that cannot be opened
// clashes with nothing yet.
bool PairsClash(const PairLineages& pair, const PairLineages& other);

// Writes the pairs to path, whole; no pairs remove the file, so that it stays missing as before
// pairs. 0 or the failure code.
int SaveFolderPairs(const QList<FolderPair>& pairs, const QString& path);

}  // namespace kw
