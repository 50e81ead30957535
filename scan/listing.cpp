#include "scan/listing.h"

#include "core/germanformat.h"
#include "platform/fs.h"
#include "platform/pathname.h"

namespace kw {

TextArray ListFolderFiles(const QString& folder) {
    auto names = fs::regularFileNames(folder);
    if (!names)
        return std::nullopt;
    return *names;
}

QString FileExtension(const QString& path) {
    return PathName(path).extension().text();
}

QString FileNameOf(const QString& path) {
    return PathName(path).fileName().text();
}

QString ParentFolder(const QString& path) {
    return PathName(path).parentFolder().text();
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
