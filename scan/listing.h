#pragma once

#include "core/textarray.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace kw {

// Names of the regular files directly inside folder, hidden and read-only ones included, in the
// file system's order; folders, links, FIFOs, sockets and devices are left out. An array without
// bounds when the folder cannot be listed.
TextArray ListFolderFiles(const QString& folder);
// Text after the last "." of the whole path (so "/my.dir/README" gives "dir/README"); empty when
// there is none or the path ends with ".".
QString FileExtension(const QString& path);
// Text after the last "/"; the whole path when it has none; empty when it ends with "/".
QString FileNameOf(const QString& path);
// Folder part with one trailing "/"; a path ending with "/" comes back unchanged; empty without
// "/".
QString ParentFolder(const QString& path);
// Size in bytes of a regular file, -1 when it cannot be read.
qint64 FileLength(const QString& path);

// The creation time in UTC at whole seconds: the birth time where the file system keeps one,
// else the last write; the zero date-time when it cannot be read.
QDateTime GetFileDate(const QString& path);

}  // namespace kw
