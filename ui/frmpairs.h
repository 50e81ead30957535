#pragma once

#include "core/folderpairs.h"

#include <QPointer>
#include <QWidget>

class QTreeWidget;
class QPushButton;

namespace kw {

struct AppData;
class Desktop;
class EventLog;

// The editor of the folder pairs, in the manner of the list editors: the main window's pair
// first (changed there), then the further pairs, "Hinzufügen" (a watched folder, then its
// destination), "Entfernen", "OK" and "Abbrechen". A pair whose folders clash with another's is
// refused with a message and changes nothing. Every close but "Abbrechen" stores the pairs; the
// file work takes them between two passes. While the editor is open the main window is hidden.
class FrmPairs : public QWidget {
    Q_OBJECT

public:
    FrmPairs(AppData& data, EventLog& log, Desktop& desktop, QWidget* mainWindow);
    ~FrmPairs() override;

    // Loads the pairs as they are in memory now and shows the window; an open one is raised.
    void open();
    QTreeWidget* LBpairs() const { return m_list; }

    // Handlers, public so that tests drive them as a click would.
    void ButAdd_Click();
    // Adds the pair unless it clashes with one listed (said in a message); true when added.
    bool addPair(const FolderPair& pair);
    void ButRemove_Click();
    void ButOK_Click();
    void ButCancel_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    // The main window's pair, then the edited ones.
    QList<FolderPair> allPairs() const;
    void showPairs();

    AppData& m_data;
    EventLog& m_log;
    Desktop& m_desktop;
    QPointer<QWidget> m_mainWindow;
    QList<FolderPair> m_pairs;  // as edited, beyond the main window's
    bool m_cancelled = false;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_butRemove = nullptr;
};

// A pair as a message names it: "watched folder  →  destination".
QString PairLine(const FolderPair& pair);

}  // namespace kw
