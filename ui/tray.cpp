#include "ui/tray.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QWidget>

namespace kw {

QIcon programIcon() {
    // Drawn here from the program's own SVG rather than through Qt's image plug-ins, so the icon
    // shows on a machine without them as well.
    QSvgRenderer svg(QStringLiteral(":/kopierwart/kopierwart.svg"));
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

Tray::Tray(QWidget& mainWindow, const QString& programTitle, QObject* parent)
    : QObject(parent), m_window(mainWindow), m_mnuTray(new QMenu(&mainWindow)) {
    m_mnuTray->setObjectName(QStringLiteral("mnuTray"));
    QAction* title = m_mnuTray->addAction(QStringLiteral("Kopierwart"));
    title->setObjectName(QStringLiteral("mnuVWcapction"));
    title->setEnabled(false);
    m_mnuTray->addSeparator()->setObjectName(QStringLiteral("Sep2"));
    m_mnuShow = m_mnuTray->addAction(QStringLiteral("Anzeigen"));
    m_mnuShow->setObjectName(QStringLiteral("mnuShow"));
    m_mnuTray->addSeparator()->setObjectName(QStringLiteral("Sep3"));
    QAction* close = m_mnuTray->addAction(QStringLiteral("Beenden"));
    close->setObjectName(QStringLiteral("mnuSClose"));
    connect(m_mnuShow, &QAction::triggered, this, &Tray::mnuShow_Click);
    connect(close, &QAction::triggered, this, &Tray::mnuSClose_Click);

    m_icon.setIcon(programIcon());
    m_icon.setToolTip(programTitle);
    connect(&m_icon, &QSystemTrayIcon::activated, this, &Tray::pichook);
}

Tray::~Tray() = default;

bool Tray::available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void Tray::AddTrayIcon() {
    if (!available())
        return;
    m_window.hide();
    m_icon.show();
}

void Tray::RemoveTrayIcon() {
    m_icon.hide();
}

void Tray::noteWindowState() {
    m_windowWasVisible = m_window.isVisible();
    m_mnuShow->setText(m_windowWasVisible ? QStringLiteral("Verbergen") : QStringLiteral("Zeigen"));
}

void Tray::pichook(QSystemTrayIcon::ActivationReason reason) {
    if (m_trayBusy)
        return;
    m_trayBusy = true;
    noteWindowState();
    if (reason == QSystemTrayIcon::DoubleClick) {
        mnuShow_Click();
    } else if (reason == QSystemTrayIcon::Context) {
        noteWindowState();
        m_mnuTray->exec(QCursor::pos());
    }
    m_trayBusy = false;
}

void Tray::mnuShow_Click() {
    if (!m_windowWasVisible) {
        m_window.showNormal();
        m_window.raise();
        m_window.activateWindow();
    } else {
        m_window.hide();
        m_window.setWindowState(m_window.windowState() | Qt::WindowMinimized);
    }
}

}  // namespace kw
