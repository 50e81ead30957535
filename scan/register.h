#pragma once

#include <QDateTime>
#include <QString>

namespace kw {

namespace fs {
class HeldSource;
enum class NameResult;
}  // namespace fs
class EventLog;
struct Settings;

// The identity of a moved file: source path, NUL, size in bytes, NUL, creation time as general
// date-time text. Backslash, CR and LF in the path are written \\, \r and \n, so a key is always
// one line of the register file and the same file always gives the same key.
QString CopyKey(const QString& sourcePath, qint64 size, const QDateTime& created);
// The source path of a key or register line as the user knows it: the text up to the first NUL
// with \\, \r and \n turned back. A backslash before anything else stays as it stands, so lines
// written before names were escaped read as they were written.
QString CopyKeySourcePath(const QString& key);

// Appends text + CR LF to the file, creating it; true on success.
bool AppendToFile(const QString& path, const QString& text);

// Deletes a handled source file, only while its folder is still where its path leads, its name
// still names the very file that was checked and that file is unchanged; logs the outcome in one
// line and answers it.
fs::NameResult DeleteSource(EventLog& log, fs::HeldSource& source, bool alreadyCopied);

// "N Gesicherte Datei(en) (M MB)".
QString StatisticsCaption(const QString& savedFileCount, const QString& savedMegabytes);
// Adds one file of size bytes to the statistics in my (megabytes rounded to two decimals, halves
// to even), writes "MB" and "Fl" to the settings file and answers the new caption.
QString AddToStatistics(Settings& my, qint64 size);
// The same in two steps, so that a burst of files writes the settings file once: the count in my
// with the new caption, then "MB" and "Fl" written.
QString CountSavedFile(Settings& my, qint64 size);
void WriteStatistics(Settings& my);

}  // namespace kw
