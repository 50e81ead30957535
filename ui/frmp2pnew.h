#pragma once

#include "p2p/addprogram.h"

#include <QDialog>

class QGroupBox;
class QListWidget;
class QMenu;
class QMouseEvent;

namespace kw {

struct AppData;
class Desktop;
class EventLog;
class WindowSearch;

// "Neues P2P-Programm": lists the visible windows of the desktop; a right click on one offers to
// add its program to the user's P2P programs. Each line carries its window id (Qt::UserRole).
// Where no display's windows can be searched it lists the user's running programs instead, each
// line its name and executable. Modeless; it deletes itself when closed.
class FrmP2Pnew : public QDialog {
    Q_OBJECT

public:
    FrmP2Pnew(AppData& data, EventLog& log, Desktop& desktop, WindowSearch& search,
              QWidget* parent = nullptr);

    // Handlers, public so that tests drive them as a click would.
    void RefreshWindowList();
    void mnuAdd_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void Form_Load();
    bool LBtask_MouseDown(QMouseEvent* event);
    bool isOwnWindow(WindowId window, const QString& caption) const;

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    WindowSearch& m_search;
    // The programs listed, line by line, when the list shows programs rather than windows.
    std::vector<UserProcess> m_processes;
    bool m_listsProcesses = false;
    QGroupBox* m_frame1 = nullptr;
    QListWidget* m_lbTask = nullptr;
    QMenu* m_mnu = nullptr;
};

}  // namespace kw
