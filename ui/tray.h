#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class QWidget;

namespace kw {

// The program's icon, data/kopierwart.svg: a folder with an arrow leading out of it.
QIcon programIcon();

// The tray icon with its menu mnuTray: "Kopierwart" (disabled), "Zeigen"/"Verbergen",
// "Beenden". A double click shows or hides the main window.
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

    // The tray callback: a double click toggles the window, the context click opens mnuTray.
    // A callback that arrives while another is being handled is ignored.
    void pichook(QSystemTrayIcon::ActivationReason reason);
    void mnuShow_Click();

    bool TrayBusy() const { return m_trayBusy; }
    QSystemTrayIcon& icon() { return m_icon; }
    QMenu& mnuTray() { return *m_mnuTray; }

Q_SIGNALS:
    // "Beenden" was chosen.
    void mnuSClose_Click();

private:
    void noteWindowState();

    QWidget& m_window;
    QSystemTrayIcon m_icon;
    QMenu* m_mnuTray;
    QAction* m_mnuShow;
    bool m_windowWasVisible = false;  // the menu's tag: "1" when true
    bool m_trayBusy = false;
};

}  // namespace kw
