#pragma once

#include <QString>

namespace kw {

// The settings file: "[Section]" lines followed by "key=value" lines, CR LF line ends.
// Section and key names compare without regard to case. A missing file, section or key reads as
// the empty text. Writing replaces an existing value in place, adds a missing key at the end of
// its section and a missing section at the end of the file; the file is replaced atomically.
// A value is one line: line breaks in a written value are stored as blanks.
QString ReadIniValue(const QString& file, const QString& section, const QString& key);
bool WriteIniValue(const QString& file, const QString& section, const QString& key,
                   const QString& value);

}  // namespace kw
