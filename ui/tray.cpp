#include "ui/tray.h"

#include "ui/problemnotifier.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
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

QIcon problemIcon() {
    const QIcon plain = programIcon();
    QIcon icon;
    for (const QSize& size : plain.availableSizes()) {
        QPixmap pixmap = plain.pixmap(size);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        // A red disc with a white bar in the lower right quarter, readable down to 16 pixels.
        const qreal side = size.width() * 0.55;
        const QRectF disc(size.width() - side, size.height() - side, side, side);
        painter.setPen(QPen(Qt::white, qMax(1.0, side / 12)));
        painter.setBrush(QColor(0xd0, 0x10, 0x10));
        painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        const qreal bar = side / 6;
        painter.drawRect(
            QRectF(disc.center().x() - bar / 2, disc.top() + side * 0.2, bar, side * 0.38));
        painter.drawRect(QRectF(disc.center().x() - bar / 2, disc.top() + side * 0.66, bar, bar));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

Tray::Tray(QWidget& mainWindow, const QString& programTitle, QObject* parent)
    : QObject(parent),
      m_window(mainWindow),
      m_programTitle(programTitle),
      m_mnuTray(new QMenu(&mainWindow)) {
    m_mnuTray->setObjectName(QStringLiteral("mnuTray"));
    QAction* title = m_mnuTray->addAction(QStringLiteral("Kopierwart"));
    title->setObjectName(QStringLiteral("mnuVWcapction"));
    title->setEnabled(false);
    m_mnuTray->addSeparator()->setObjectName(QStringLiteral("Sep2"));
    m_mnuShow = m_mnuTray->addAction(tr("Anzeigen"));
    m_mnuShow->setObjectName(QStringLiteral("mnuShow"));
    m_mnuTray->addSeparator()->setObjectName(QStringLiteral("Sep3"));
    QAction* close = m_mnuTray->addAction(tr("Beenden"));
    close->setObjectName(QStringLiteral("mnuSClose"));
    connect(m_mnuShow, &QAction::triggered, this, &Tray::mnuShow_Click);
    connect(close, &QAction::triggered, this, &Tray::mnuSClose_Click);
    m_window.installEventFilter(this);

    m_icon.setIcon(programIcon());
    // The notification area shows the menu itself; popping it up ourselves would give an
    // ordinary window on Wayland and leave the host's call unanswered.
    m_icon.setContextMenu(m_mnuTray);
    connect(&m_icon, &QSystemTrayIcon::activated, this, &Tray::pichook);
    showState();
}

Tray::~Tray() = default;

bool Tray::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == &m_window &&
        (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange))
        noteWindowState();
    return false;
}

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
    // Minimised counts as hidden: whether a minimised window stays mapped is the window
    // manager's choice, and the user does not see it either way.
    m_windowWasVisible = m_window.isVisible() && !m_window.isMinimized();
    m_mnuShow->setText(m_windowWasVisible ? tr("Verbergen") : tr("Zeigen"));
}

void Tray::pichook(QSystemTrayIcon::ActivationReason reason) {
    if (m_trayBusy)
        return;
    m_trayBusy = true;
    noteWindowState();
    if ((reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) &&
        !secondClickOfPair())
        mnuShow_Click();
    m_trayBusy = false;
}

bool Tray::secondClickOfPair() {
    if (m_sinceClickToggle.isValid() &&
        m_sinceClickToggle.elapsed() < QApplication::doubleClickInterval())
        return true;
    m_sinceClickToggle.start();
    return false;
}

void Tray::setStatistics(const QString& caption) {
    m_statistics = caption;
    showState();
}

void Tray::setP2PPrograms(const QStringList& names) {
    m_p2pPrograms = names;
    showState();
}

void Tray::setProblems(const Problems& problems) {
    const bool hadProblem = showsProblem();
    m_problems = problems;
    if (showsProblem() != hadProblem)
        m_icon.setIcon(showsProblem() ? problemIcon() : programIcon());
    showState();
}

void Tray::showState() {
    QStringList lines{m_programTitle};
    if (!m_statistics.isEmpty())
        lines.append(m_statistics);
    lines.append(m_p2pPrograms.isEmpty()
                     ? tr("Kein P2P-Programm läuft")
                     : tr("P2P-Programme: ") + m_p2pPrograms.join(QLatin1String(", ")));
    // One line per kind of problem, and per pair where there are several.
    QList<std::pair<ProblemKind, QString>> named;
    for (const Problem& problem : std::as_const(m_problems)) {
        if (named.contains(std::pair(problem.kind, problem.pair)))
            continue;
        named.append({problem.kind, problem.pair});
        const QString line = ProblemTitle(problem.kind) + QLatin1String(": ") + problem.subject;
        lines.append(problem.pair.isEmpty() ? line
                                            : tr("%1 (überwacht: %2)").arg(line, problem.pair));
    }
    m_icon.setToolTip(lines.join(QLatin1Char('\n')));
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
