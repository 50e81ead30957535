#include "scan/watchdog.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/settings.h"
#include "platform/processes.h"
#include "scan/failure.h"
#include "scan/listing.h"

namespace kw {

void ListRunningProcesses(QStringList& list) {
    QList<qint64> ids;
    EnumRunningProcesses(list, ids);
}

int TaskWatchdogPass(AppData& data, EventLog& log, Desktop& desktop, QStringList& LBtask) {
    TextArray& tasks = data.TaskList;
    // The bound is taken anew before every step: a removal shortens the list.
    for (int j = 0;; ++j) {
        if (!ArrayHasBounds(tasks))
            return kIndexOutOfRange;
        if (j > ArrayUpperBound(tasks))
            return 0;
        if (j == 0)
            ListRunningProcesses(LBtask);
        const QString task = tasks->at(j);
        if (FindListEntry(LBtask, FileNameOf(task)) != -1)
            continue;
        if (FileExists(task)) {
            log.WriteLog(QLatin1String("Executing '") + task + QLatin1Char('\''));
            desktop.ShellOpen(task, QString());
            continue;
        }
        log.WriteLog(QLatin1String("Taskpath not exist '") + task + QLatin1Char('\''));
        RemoveArrayItem(tasks, j);
        log.WriteLog(QStringLiteral("Writing Tasklist..."));
        DeleteFileForced(data.My.TaskListFile);
        SaveListFile(tasks, data.My.TaskListFile);
    }
}

}  // namespace kw
