#pragma once

#include "platform/processes.h"
#include "platform/windowsearch.h"

#include <QString>

#include <functional>
#include <vector>

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// A line of the add-program list: the window's caption as plain text and the window it names,
// as they were when the list was filled.
struct ListedWindow {
    QString caption;
    WindowId window = 0;
};

// Tells the program's own windows, by id or by exact caption.
using OwnWindowTest = std::function<bool(WindowId window, const QString& caption)>;

// The visible top-level windows with a caption, frontmost first, without the program's own and
// without "Program Manager"; two windows with one caption are two lines.
std::vector<ListedWindow> ListableWindows(WindowSearch& search, const OwnWindowTest& isOwnWindow);

// Where no display's windows can be searched the user's running programs are offered instead:
// one line per executable, sorted by name, without the program itself (ownId).
std::vector<UserProcess> ListableProcesses(qint64 ownId);

enum class AddOutcome {
    Duplicate,  // the list already has the name; refused with a message
    Vanished,   // the window or program has ended since the list was filled; told with a message
    Declined,   // the user answered No or Cancel
    Added,      // appended to UserP2PList and saved
};

// Asks the user whether the listed window's program is to be looked for, and adds it.
AddOutcome AddP2PProgram(const ListedWindow& line, WindowSearch& search, AppData& data,
                         EventLog& log, Desktop& desktop);
// The same for a listed program: its executable's name becomes both the entry's name and what
// the detector looks for.
AddOutcome AddP2PProgram(const UserProcess& line, AppData& data, EventLog& log, Desktop& desktop);

}  // namespace kw
