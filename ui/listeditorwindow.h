#pragma once

#include "core/textarray.h"

#include <QPointer>
#include <QWidget>

class QAction;
class QListWidget;
class QMenu;
class QPushButton;

namespace kw {

struct AppData;
struct Settings;
class Desktop;
class EventLog;

// What the two list editors share: a sorted list LBt with hover tracking and a context menu to
// remove a line, "Übernehmen" and "Abbrechen", and the rule that every close but "Abbrechen"
// (the title bar's close button too) stores the list. While the editor is open the main window
// is hidden; it is shown again however the editor closes.
class ListEditorWindow : public QWidget {
    Q_OBJECT

public:
    // What an editor edits: its in-memory list, its list file and the line logged on storing.
    struct EditedList {
        TextArray AppData::*list;
        QString Settings::*file;
        QString storingLogLine;
    };

    ~ListEditorWindow() override;

    // Loads the window when it is closed (the list as it is in memory now) and shows it; an
    // open window is only raised, keeping its edits.
    void open();

    QListWidget* LBt() const { return m_lbt; }

    // Handlers, public so that tests drive them as a click would.
    void mnuRemove_Click();
    void ButOK_Click();
    void ButCancel_Click();

protected:
    ListEditorWindow(AppData& data, EventLog& log, Desktop& desktop, QWidget* mainWindow,
                     EditedList edited);

    // Builds the list, the buttons and the context menu; the editor places them.
    // menuTitleName and menuTitle: the disabled first menu item that shows the chosen line.
    void createCommonControls(QWidget* listParent, qint32 listTextColor,
                              const QString& menuTitleName, const QString& menuTitle,
                              const QString& removeCaption);
    // Adds line at its alphabetical place unless a line equal to it without regard to letter
    // case is listed; true when added.
    bool addLine(const QString& line);

    // Fresh controls, colours, centred place, the list from memory, main window hidden.
    virtual void Form_Load();

    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    QListWidget* m_lbt = nullptr;
    QPushButton* m_butOK = nullptr;
    QPushButton* m_butCancel = nullptr;

private:
    void insertSorted(const QString& line);
    void Form_Unload();
    bool LBt_MouseDown(const QPoint& globalPos);

    QPointer<QWidget> m_mainWindow;
    EditedList m_edited;
    bool m_cancelled = false;
    QMenu* m_mnu = nullptr;
    QAction* m_mnuTitle = nullptr;
};

// Paints the widget's background in a 0x00BBGGRR colour; the colour of its children's own
// backgrounds (a text field's, a list's) stays theirs.
void PaintBackground(QWidget* widget, qint32 color);
// An editor window as it opens over the main window, which it hides: the window, its frames and
// its list painted in the user's colour, the window placed on the screen.
void PrepareEditorWindow(QWidget* window, QWidget* mainWindow, QWidget* listViewport, qint32 color);
// Sets the colour of the widget's text, 0x00BBGGRR.
void SetTextColor(QWidget* widget, qint32 color);

}  // namespace kw
