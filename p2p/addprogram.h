#pragma once

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

enum class AddOutcome {
    Duplicate,  // the list already has the name; refused with a message
    Vanished,   // the window has closed since the list was filled; told with a message
    Declined,   // the user answered No or Cancel
    Added,      // appended to UserP2PList and saved
};

// Asks the user whether the listed window's program is to be looked for, and adds it.
AddOutcome AddP2PProgram(const ListedWindow& line, WindowSearch& search, AppData& data,
                         EventLog& log, Desktop& desktop);

}  // namespace kw
