#include "ui/frmp2pnew.h"

#include "core/settings.h"
#include "platform/placement.h"
#include "ui/colors.h"
#include "ui/controls.h"
#include "ui/listhover.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>

namespace kw {
namespace {

constexpr qint32 kBlue = 0x00C00000;
constexpr qint32 kYellow = 0x0000FFFF;
constexpr qint32 kWhite = 0x00FFFFFF;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption,
                  const QRect& geometry) {
    QLabel* label = kw::makeLabel(parent, QLatin1String(name), caption, geometry, kWhite);
    label->setWordWrap(true);
    return label;
}

}  // namespace

FrmP2Pnew::FrmP2Pnew(AppData& data, EventLog& log, Desktop& desktop, WindowSearch& search,
                     QWidget* parent)
    : QDialog(parent), m_data(data), m_log(log), m_desktop(desktop), m_search(search) {
    setObjectName(QStringLiteral("frmP2Pnew"));
    setWindowTitle(tr("Neues P2P-Programm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(440, 340);
    createControls();
    Form_Load();
}

void FrmP2Pnew::createControls() {
    m_frame1 = new QGroupBox(tr("Anwendung hinzufügen"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(8, 4, 424, 294);
    setTextColor(m_frame1, kWhite);
    makeLabel(m_frame1, "Label1",
              tr("Bitte wähle die Anwendung aus, die den P2P-Programmen hinzugefügt "
                 "werden soll "),
              {10, 20, 404, 34});
    makeLabel(m_frame1, "Label2", tr("[und klicke disese mit der rechten Maustaste an]"),
              {10, 54, 404, 18});
    m_lbTask = new QListWidget(m_frame1);
    m_lbTask->setObjectName(QStringLiteral("LBtask"));
    m_lbTask->setGeometry(10, 76, 404, 208);
    m_lbTask->setUniformItemSizes(true);
    setBackgroundColor(m_lbTask, kBlue);
    setTextColor(m_lbTask, kYellow);
    EnableListHover(m_lbTask);
    m_lbTask->viewport()->installEventFilter(this);

    QPushButton* refresh =
        makeButton(this, QStringLiteral("BurRefresh"), tr("Refresh"), {8, 306, 100, 26});
    connect(refresh, &QPushButton::clicked, this, &FrmP2Pnew::RefreshWindowList);
    QPushButton* cancel =
        makeButton(this, QStringLiteral("ButCancel"), tr("Abbrechen"), {332, 306, 100, 26});
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);

    m_mnu = new QMenu(this);
    m_mnu->setObjectName(QStringLiteral("mnu"));
    QAction* add = m_mnu->addAction(tr("Programm hinzufügen"));
    add->setObjectName(QStringLiteral("mnuAdd"));
    m_mnu->addSeparator()->setObjectName(QStringLiteral("mnuSep"));
    // Choosing it only closes the menu.
    m_mnu->addAction(tr("Menu schließen"))->setObjectName(QStringLiteral("mnuClose"));
    connect(add, &QAction::triggered, this, &FrmP2Pnew::mnuAdd_Click);
}

void FrmP2Pnew::Form_Load() {
    PlaceForm(this);
    setBackgroundColor(this, m_data.My.ControlColor);
    setBackgroundColor(m_frame1, m_data.My.ControlColor);
    RefreshWindowList();
}

bool FrmP2Pnew::isOwnWindow(WindowId window, const QString& caption) const {
    for (const QWidget* own : QApplication::topLevelWidgets()) {
        // internalWinId, not winId: asking must not give a window a native handle.
        if ((own->internalWinId() && WindowId(own->internalWinId()) == window) ||
            own->windowTitle() == caption)
            return true;
    }
    return false;
}

void FrmP2Pnew::RefreshWindowList() {
    m_lbTask->clear();
    m_processes.clear();
    m_listsProcesses = !m_search.HasDisplay();
    if (m_listsProcesses) {
        m_processes = ListableProcesses(QCoreApplication::applicationPid());
        for (const UserProcess& process : m_processes)
            m_lbTask->addItem(process.executable.isEmpty()
                                  ? process.name
                                  : process.name + QLatin1String(" (") + process.executable +
                                        QLatin1Char(')'));
        return;
    }
    const auto own = [this](WindowId window, const QString& caption) {
        return isOwnWindow(window, caption);
    };
    for (const ListedWindow& line : ListableWindows(m_search, own)) {
        auto* item = new QListWidgetItem(line.caption, m_lbTask);
        item->setData(Qt::UserRole, QVariant::fromValue(line.window));
    }
}

void FrmP2Pnew::mnuAdd_Click() {
    const QListWidgetItem* item = m_lbTask->currentItem();
    if (!item || !item->isSelected())
        return;
    const int row = m_lbTask->row(item);
    const AddOutcome outcome =
        m_listsProcesses ? AddP2PProgram(m_processes.at(size_t(row)), m_data, m_log, m_desktop)
                         : AddP2PProgram({item->text(), item->data(Qt::UserRole).value<WindowId>()},
                                         m_search, m_data, m_log, m_desktop);
    switch (outcome) {
        case AddOutcome::Vanished:
            RefreshWindowList();
            break;
        case AddOutcome::Added:
            close();
            break;
        case AddOutcome::Duplicate:
        case AddOutcome::Declined:
            break;
    }
}

bool FrmP2Pnew::LBtask_MouseDown(QMouseEvent* event) {
    const QListWidgetItem* item = m_lbTask->currentItem();
    if (event->button() != Qt::RightButton || !item || !item->isSelected())
        return false;
    m_mnu->exec(event->globalPosition().toPoint());
    return true;
}

bool FrmP2Pnew::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_lbTask->viewport() && event->type() == QEvent::MouseButtonPress)
        return LBtask_MouseDown(static_cast<QMouseEvent*>(event));
    return QDialog::eventFilter(watched, event);
}

}  // namespace kw
