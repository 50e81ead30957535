#include "ui/listeditorwindow.h"

#include "core/editedlist.h"
#include "core/settings.h"
#include "platform/placement.h"
#include "ui/colors.h"
#include "ui/controls.h"
#include "ui/listhover.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>

namespace kw {
namespace {

// Alphabetical without regard to letter case; lines that differ only in case keep a fixed order.
bool sortsBefore(const QString& a, const QString& b) {
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

}  // namespace

void PaintBackground(QWidget* widget, qint32 color) {
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), toQColor(color));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->update();
}

void PrepareEditorWindow(QWidget* window, QWidget* mainWindow, QWidget* listViewport,
                         qint32 color) {
    if (mainWindow)
        mainWindow->hide();
    PaintBackground(window, color);
    for (QGroupBox* frame : window->findChildren<QGroupBox*>())
        PaintBackground(frame, color);
    PaintBackground(listViewport, color);
    PlaceForm(window);
}

void SetTextColor(QWidget* widget, qint32 color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, toQColor(color));
    palette.setColor(QPalette::Text, toQColor(color));
    widget->setPalette(palette);
}

ListEditorWindow::ListEditorWindow(AppData& data, EventLog& log, Desktop& desktop,
                                   QWidget* mainWindow, EditedList edited)
    : m_data(data),
      m_log(log),
      m_desktop(desktop),
      m_mainWindow(mainWindow),
      m_edited(std::move(edited)) {}

ListEditorWindow::~ListEditorWindow() = default;

void ListEditorWindow::createCommonControls(QWidget* listParent, qint32 listTextColor,
                                            const QString& menuTitleName, const QString& menuTitle,
                                            const QString& removeCaption) {
    m_lbt = new QListWidget(listParent);
    m_lbt->setObjectName(QStringLiteral("LBt"));
    m_lbt->setUniformItemSizes(true);
    SetTextColor(m_lbt, listTextColor);
    EnableListHover(m_lbt);
    m_lbt->viewport()->installEventFilter(this);

    m_butOK = makeButton(this, QStringLiteral("ButOK"), tr("Übernehmen"), {});
    m_butCancel = makeButton(this, QStringLiteral("ButCancel"), tr("Abbrechen"), {});
    connect(m_butOK, &QPushButton::clicked, this, &ListEditorWindow::ButOK_Click);
    connect(m_butCancel, &QPushButton::clicked, this, &ListEditorWindow::ButCancel_Click);

    m_mnu = new QMenu(this);
    m_mnu->setObjectName(QStringLiteral("mnu"));
    m_mnuTitle = m_mnu->addAction(menuTitle);
    m_mnuTitle->setObjectName(menuTitleName);
    m_mnuTitle->setEnabled(false);
    m_mnu->addSeparator()->setObjectName(QStringLiteral("sep"));
    QAction* remove = m_mnu->addAction(removeCaption);
    remove->setObjectName(QStringLiteral("mnuRemove"));
    connect(remove, &QAction::triggered, this, &ListEditorWindow::mnuRemove_Click);
}

bool ListEditorWindow::addLine(const QString& line) {
    for (int row = 0; row < m_lbt->count(); ++row) {
        if (m_lbt->item(row)->text().compare(line, Qt::CaseInsensitive) == 0)
            return false;
    }
    insertSorted(line);
    return true;
}

void ListEditorWindow::insertSorted(const QString& line) {
    int row = 0;
    while (row < m_lbt->count() && sortsBefore(m_lbt->item(row)->text(), line))
        ++row;
    m_lbt->insertItem(row, line);
}

void ListEditorWindow::open() {
    openWindow(this, [this] { Form_Load(); });
}

void ListEditorWindow::Form_Load() {
    m_cancelled = false;
    PrepareEditorWindow(this, m_mainWindow, m_lbt->viewport(), m_data.My.ControlColor);
    m_lbt->clear();
    const TextArray& list = m_data.*m_edited.list;
    if (ArrayHasBounds(list)) {
        for (const QString& line : *list)
            insertSorted(line);
    }
}

void ListEditorWindow::Form_Unload() {
    if (!m_cancelled) {
        QStringList lines;
        for (int row = 0; row < m_lbt->count(); ++row)
            lines.append(m_lbt->item(row)->text());
        StoreEditedList(m_log, m_edited.storingLogLine, lines, m_data.*m_edited.list,
                        m_data.My.*m_edited.file);
    }
    if (m_mainWindow)
        m_mainWindow->show();
}

void ListEditorWindow::mnuRemove_Click() {
    const QListWidgetItem* item = m_lbt->currentItem();
    if (item && item->isSelected())
        delete m_lbt->takeItem(m_lbt->currentRow());
}

void ListEditorWindow::ButOK_Click() {
    close();
}

void ListEditorWindow::ButCancel_Click() {
    m_cancelled = true;
    close();
}

bool ListEditorWindow::LBt_MouseDown(const QPoint& globalPos) {
    const QListWidgetItem* item = m_lbt->currentItem();
    if (!item || !item->isSelected())
        return false;
    // A path may hold "&", which a menu would read as a mnemonic.
    QString caption = item->text();
    m_mnuTitle->setText(caption.replace(QLatin1Char('&'), QLatin1String("&&")));
    m_mnu->exec(globalPos);
    return true;
}

void ListEditorWindow::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

bool ListEditorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_lbt->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::RightButton)
            return LBt_MouseDown(press->globalPosition().toPoint());
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kw
