#pragma once

#include <QString>
#include <QUrl>

// Every path that crosses into Qt or comes back from it passes here. Inside the program a path is
// a QString that carries bytes which are not UTF-8 as escapes (textcodec.h); Qt's own conversions
// would turn those bytes into U+FFFD and so name another file, or none.
namespace kw {

// A path that Qt decoded itself (a file dialog's answer, QFileSystemModel): each name in which Qt
// put U+FFFD for bytes it could not decode is found again in its folder by its bytes. The empty
// text when such a name is not there or when two names look alike to Qt: never another file.
QString pathFromQt(const QString& qtPath);
// A local file URL (a dialog's answer) as a path: its percent-encoded bytes taken exactly, names
// that were decoded on the way recovered as in pathFromQt. Empty for a URL that is not local.
QString pathFromUrl(const QUrl& url);
// A file URL whose percent-encoded bytes are the path's own bytes. A relative path is taken from
// the current folder.
QUrl urlFromPath(const QString& path);
// An environment variable that holds a path, with its bytes; empty when it is not set.
QString environmentPath(const char* name);
// The user's home folder ($HOME), with its bytes.
QString homeFolder();
// The running program's executable with its bytes (QCoreApplication::applicationFilePath decodes
// them lossily).
QString programFilePath();

}  // namespace kw
