#include "core/editedlist.h"

#include "core/eventlog.h"
#include "core/files.h"
#include "platform/fs.h"

namespace kw {

void StoreEditedList(EventLog& log, const QString& logLine, const QStringList& lines,
                     TextArray& list, const QString& path) {
    log.WriteLog(logLine);
    ListBoxToArray(lines, list);
    if (!ArrayHasBounds(list)) {
        const int result = DeleteFileForced(path);
        if (result > 0)
            log.WriteLog(QLatin1String("Error deleting '") + path + QLatin1String("': ") +
                         fs::errorText(result));
        return;
    }
    // The write replaces the old file in one step, so it is not deleted first: a failed write
    // then keeps the previous list on disk instead of none.
    const int result = SaveListFile(list, path);
    if (result != 0)
        log.WriteLog(QLatin1String("Error writing '") + path + QLatin1String("': ") +
                     fs::errorText(result));
}

}  // namespace kw
