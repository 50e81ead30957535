#pragma once

namespace kw {

class DebugWindow;
class Desktop;
class EventLog;
struct Settings;

// The three buttons of the debug window.
void ClearDebugWindow(EventLog& log, DebugWindow& window);
// Deletes the log file and the copied-files list file, logs both outcomes and tells the user.
void DeleteLogs(EventLog& log, const Settings& my, Desktop& desktop);
void ShowLog(const Settings& my, Desktop& desktop);

}  // namespace kw
