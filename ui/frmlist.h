#pragma once

#include <QWidget>

class QListWidget;

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// The copied files as the register file holds them, newest first, one source path per line. A
// double click opens the file of that name in the destination folder. The list is read when the
// window opens; Escape closes it wherever the focus is.
class FrmList : public QWidget {
    Q_OBJECT

public:
    FrmList(AppData& data, EventLog& log, Desktop& desktop);

    // Loads the window when it is closed and shows it; an open window is only raised.
    void open();

    QListWidget* LB() const { return m_lb; }

    // Handler, public so that tests drive it as a double click would.
    void LB_DblClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    // True when the key was Escape, which closes the window.
    bool Form_KeyDown(const QKeyEvent* event);

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    QListWidget* m_lb = nullptr;
};

}  // namespace kw
