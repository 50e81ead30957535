#pragma once

#include <QString>

namespace kw {

// The file operations the program performs on whole files, numbered as it has always numbered
// them.
enum class FileOp { Copy = 1, Move = 2, Rename = 3, Delete = 4 };

// Performs one operation on the file from. Copy and Move take to as the target file, or as the
// target folder when it ends with "/" or names an existing folder; withFolders makes a Copy
// create that folder first. Rename takes a bare name (without "/") as a name in the folder of
// from. Delete removes the file and ignores to. No operation ever replaces an existing file,
// asks anything or shows an error; the result is true on success.
bool FileOperation(FileOp operation, const QString& from, const QString& to, bool withFolders);
// FileOperation without creating folders.
bool FileOperationQuiet(FileOp operation, const QString& from, const QString& to);

}  // namespace kw
