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

PairLineages lineagesOf(const FolderPair& pair) {
    return {fs::lineageOf(pair.Source), fs::lineageOf(pair.Destination)};
}

bool PairsClash(const PairLineages& pair, const PairLineages& other) {
    return pair.source.overlaps(other.source) || pair.source.overlaps(other.destination) ||
           pair.destination.overlaps(other.source);
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
