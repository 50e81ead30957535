#include "ui/tray.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QWidget>

namespace kw {

QIcon programIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        // Folder in the program's design blue, arrow in yellow.
        painter.setPen(QPen(QColor(0, 0, 0x60), 2));
        painter.setBrush(QColor(0, 0, 0xC0));
        painter.drawPolygon(QPolygonF({{4, 14}, {24, 14}, {30, 20}, {60, 20}, {60, 56}, {4, 56}}));
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 0));
        painter.drawPolygon(
            QPolygonF({{14, 34}, {36, 34}, {36, 26}, {52, 38}, {36, 50}, {36, 42}, {14, 42}}));
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
