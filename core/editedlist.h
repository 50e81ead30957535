#pragma once

#include "core/textarray.h"

#include <QString>
#include <QStringList>

namespace kw {

class EventLog;

// Stores the lines of a list editor that closed without cancel: logs logLine, makes the lines
// (already in list order) the in-memory list and writes them to path, one per CR LF line. An empty
// editor leaves the list without elements and no file. The in-memory list keeps the new contents
// even when the file cannot be written; the failure is logged.
void StoreEditedList(EventLog& log, const QString& logLine, const QStringList& lines,
                     TextArray& list, const QString& path);

}  // namespace kw
