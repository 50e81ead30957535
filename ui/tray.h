#pragma once

#include "core/problems.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QStringList>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QWidget;

namespace kw {

// The program's icon, data/kopierwart.svg: a folder with an arrow leading out of it.
QIcon programIcon();
// The program's icon with a red mark: something waits for the user.
QIcon problemIcon();

// The tray icon with its menu mnuTray: "Kopierwart" (disabled), "Zeigen"/"Verbergen",
// "Beenden". A click (or a double click) shows or hides the main window; the menu belongs to the
// notification area, which shows it itself (over DBusMenu on a StatusNotifierItem host). The
// tooltip tells the state: files saved, P2P programs running, problems waiting.
class Tray : public QObject {
    Q_OBJECT

public:
    Tray(QWidget& mainWindow, const QString& programTitle, QObject* parent = nullptr);
    ~Tray() override;

    // Whether the desktop has a notification area to put the icon in.
    static bool available();

    // Hides the main window and shows the icon; without a notification area the window stays.
    void AddTrayIcon();
    void RemoveTrayIcon();

    // The tray callback: a click or double click toggles the window; the clicks of one double
    // click (a click, then a double click) toggle it once. A callback that arrives while another
    // is being handled is ignored.
    void pichook(QSystemTrayIcon::ActivationReason reason);
    void mnuShow_Click();

    // The state the tooltip and the icon show.
    void setStatistics(const QString& caption);
    void setP2PPrograms(const QStringList& names);
    void setProblems(const kw::Problems& problems);
    bool showsProblem() const { return !m_problems.isEmpty(); }

    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& mnuTray() { return *m_mnuTray; }

Q_SIGNALS:
    // "Beenden" was chosen.
    void mnuSClose_Click();

protected:
    // Keeps "Zeigen"/"Verbergen" true to the window: a host may read the menu at any time.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void noteWindowState();
    // True for the second click of a double click, which the first one has answered.
    bool secondClickOfPair();
    void showState();

    QWidget& m_window;
    QString m_programTitle;
    QString m_statistics;
    QStringList m_p2pPrograms;
    Problems m_problems;
    QElapsedTimer m_sinceClickToggle;
    QSystemTrayIcon m_icon;
    QMenu* m_mnuTray;
    QAction* m_mnuShow;
    bool m_windowWasVisible = false;  // the menu's tag: "1" when true
    bool m_trayBusy = false;
};

}  // namespace kw
