#include "scan/listing.h"

#include "core/germanformat.h"
#include "platform/fs.h"

namespace kw {

TextArray ListFolderFiles(const QString& folder) {
    auto names = fs::regularFileNames(folder);
    if (!names)
        return std::nullopt;
    return *names;
}

QString FileExtension(const QString& path) {
    if (path.endsWith(QLatin1Char('.')))
        return {};
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : path.mid(dot + 1);
}

QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString ParentFolder(const QString& path) {
    if (path.endsWith(QLatin1Char('/')))
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

qint64 FileLength(const QString& path) {
    const auto facts = fs::factsFollowingLinks(path);
    return facts && facts->kind == fs::Kind::Regular ? facts->size : -1;
}

QDateTime GetFileDate(const QString& path) {
    const auto facts = fs::factsFollowingLinks(path);
    return facts ? facts->created : zeroDateTime();
}

}  // namespace kw
