#include "core/folderpairs.h"

#include "core/files.h"
#include "platform/fs.h"
#include "platform/heldfolder.h"

namespace kw {

QList<FolderPair> LoadFolderPairs(const QString& path) {
    QList<FolderPair> pairs;
    for (const QString& line : LoadListFile(path).value_or(QStringList())) {
        const qsizetype separator = line.indexOf(QChar(0));
        if (separator <= 0 || separator == line.size() - 1)
            continue;
        pairs.append({AddBackslash(line.left(separator)), AddBackslash(line.mid(separator + 1))});
    }
    return pairs;
}

bool PairsClash(const FolderPair& pair, const FolderPair& other) {
    return fs::foldersOverlap(pair.Source, other.Source) ||
           fs::foldersOverlap(pair.Source, other.Destination) ||
           fs::foldersOverlap(pair.Destination, other.Source);
}

int FirstClashingPair(const QList<FolderPair>& pairs, int* clashesWith) {
    for (int i = 0; i < pairs.size(); ++i) {
        for (int j = 0; j <= i; ++j) {
            const bool clash = j == i ? fs::foldersOverlap(pairs[i].Source, pairs[i].Destination)
                                      : PairsClash(pairs[i], pairs[j]);
            if (clash) {
                if (clashesWith)
                    *clashesWith = j;
                return i;
            }
        }
    }
    return -1;
}

int SaveFolderPairs(const QList<FolderPair>& pairs, const QString& path) {
    if (pairs.isEmpty()) {
        const int result = DeleteFileForced(path);
        return result == -1 ? 0 : result;
    }
    QStringList lines;
    for (const FolderPair& pair : pairs)
        lines.append(pair.Source + QChar(0) + pair.Destination);
    return SaveListFile(lines, path);
}

}  // namespace kw
