#pragma once

#include <QDateTime>
#include <QString>

namespace kw {

namespace fs {
class HeldSource;
enum class NameResult;
}  // namespace fs
class EventLog;

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

// "N Gesicherte Datei(en) (M MB)", the megabytes in the settings file's form.
QString StatisticsCaption(qint64 savedFileCount, double savedMegabytes);

}  // namespace kw
