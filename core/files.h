#pragma once

#include "core/textarray.h"

#include <QString>
#include <QStringList>

namespace kw {

// The line end of every file and message text the program writes.
inline constexpr char kCrLf[] = "\r\n";
inline constexpr QLatin1String kCrLfText(kCrLf, 2);

// path with "/" appended unless it already ends with one; the empty text gives "/".
QString AddBackslash(const QString& path);
// True when path names a regular file that can be opened for reading.
bool FileExists(const QString& path);
// -1 when FileExists is false; else 0 when deleted, or the failure code of the deletion.
int DeleteFileForced(const QString& path);
// The whole file without one trailing CR LF; the empty text when it cannot be read.
QString ReadTextFile(const QString& path);
// Our own data files (settings, lists, register) that exist but could not be read this run: left
// by a run as another user, or on a failing disk. None of them is written again in this run, so
// what they hold is never replaced by the little this run knows. The readers of settings and
// list files note them; the writers refuse them.
void NoteUnreadableDataFile(const QString& path, int error);
// The read failure of such a file, else 0.
int UnreadableDataFileError(const QString& path);
// In the order they were found. These four may be called from any thread.
QStringList UnreadableDataFiles();
// A new run starts with none.
void ForgetUnreadableDataFiles();
// Writes content + CR LF, replacing the file atomically. Leaves an existing file alone when
// overwrite is false (result 0), and an unreadable data file always (its read failure). 0 on
// success, else the failure code.
int WriteTextFile(const QString& path, const QString& content, bool overwrite);
// Every entry followed by CR LF; an array with bounds but no elements gives a lone CR LF.
// Nothing is written for an array without bounds (result 0).
int SaveListFile(const TextArray& entries, const QString& path);
// The lines of a list file: the empty or missing file gives an empty array with bounds, and so
// does one that cannot be read, which is noted as unreadable.
TextArray LoadListFile(const QString& path);
// Copies a list control's lines into entries; an empty list leaves entries without bounds and
// answers 9, as an array cannot be given the bounds 0 to -1 there.
int ListBoxToArray(const QStringList& lines, TextArray& entries);
// True when the folder exists; when it does not and create is true, CreateFolderPath's result.
bool FolderExists(const QString& path, bool create);
// Creates every missing folder along the path; true when the folder exists afterwards.
bool CreateFolderPath(const QString& path);

}  // namespace kw
