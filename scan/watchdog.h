#pragma once

#include <QStringList>

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// Fills list with the names of the running processes (platform/processes.h), clearing it first.
// A snapshot that cannot be taken leaves the list empty, so every listed task counts as missing.
void ListRunningProcesses(QStringList& list);

// One pass over TaskList: one process snapshot into LBtask for the whole pass (none for an empty
// list), every task whose file name no running process has (compared without regard to case)
// is started, and a task whose file is gone is removed from the list and the list file
// rewritten. After a removal the task that moves into its slot waits for the next pass.
// Answers 0, or 9 (index out of range) when TaskList has no bounds, also after its last entry
// was removed.
int TaskWatchdogPass(AppData& data, EventLog& log, Desktop& desktop, QStringList& LBtask);

}  // namespace kw
