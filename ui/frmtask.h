#pragma once

#include "ui/listeditorwindow.h"

namespace kw {

// The editor of the task list: programs the watchdog starts again when they are not running,
// added only by choosing an executable file. The watchdog uses the list from its next pass on.
class FrmTask : public ListEditorWindow {
    Q_OBJECT

public:
    FrmTask(AppData& data, EventLog& log, Desktop& desktop, QWidget* mainWindow);

    // Handlers, public so that tests drive them as a click would.
    void ButBrowse_Click();
};

}  // namespace kw
