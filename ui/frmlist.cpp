#include "ui/frmlist.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/settings.h"
#include "platform/placement.h"
#include "scan/listing.h"
#include "scan/register.h"
#include "ui/colors.h"
#include "ui/controls.h"
#include "ui/listeditorwindow.h"
#include "ui/listhover.h"

#include <QKeyEvent>
#include <QListWidget>

namespace kw {
namespace {

constexpr qint32 kYellow = 0x0000FFFF;

}  // namespace

FrmList::FrmList(AppData& data, EventLog& log, Desktop& desktop)
    : m_data(data), m_log(log), m_desktop(desktop) {
    setObjectName(QStringLiteral("frmList"));
    setWindowTitle(tr("Kopierte Dateien"));
    setFixedSize(560, 320);
    m_lb = new QListWidget(this);
    m_lb->setObjectName(QStringLiteral("LB"));
    m_lb->setGeometry(8, 8, 544, 304);
    m_lb->setUniformItemSizes(true);
    SetTextColor(m_lb, kYellow);
    EnableListHover(m_lb);
    m_lb->installEventFilter(this);
    connect(m_lb, &QListWidget::itemDoubleClicked, this, &FrmList::LB_DblClick);
}

void FrmList::open() {
    openWindow(this, [this] { Form_Load(); });
}

void FrmList::Form_Load() {
    ApplyColorScheme(this, m_data.My.ControlColor, m_log);
    PlaceForm(this);
    m_lb->clear();
    const QString text = ReadTextFile(m_data.My.CopyListFile);
    if (text.isEmpty())
        return;
    const QStringList lines = text.split(QLatin1String(kCrLf));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        // An empty line names no file; opening it would open the destination folder itself.
        if (!line->isEmpty())
            m_lb->addItem(CopyKeySourcePath(*line));
    }
}

void FrmList::LB_DblClick() {
    const QListWidgetItem* item = m_lb->currentItem();
    if (!item || !item->isSelected())
        return;
    const QString target = m_data.My.Destination + FileNameOf(item->text());
    m_log.WriteLog(QLatin1String("Launching ") + target);
    // The desktop's opener may fail without a word; a file that is gone gets its own message.
    if (!FileExists(target)) {
        m_desktop.ShowMessage(tr("Fehler"),
                              tr("Die Datei") + QLatin1String(kCrLf) + target +
                                  QLatin1String(kCrLf) + tr("liegt nicht mehr im Zielverzeichnis."),
                              MB_ICONERROR);
        return;
    }
    m_desktop.OpenDocument(target);
}

bool FrmList::Form_KeyDown(const QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape)
        return false;
    close();
    return true;
}

void FrmList::keyPressEvent(QKeyEvent* event) {
    if (!Form_KeyDown(event))
        QWidget::keyPressEvent(event);
}

bool FrmList::eventFilter(QObject* watched, QEvent* event) {
    // The window sees every key before its list does.
    if (watched == m_lb && event->type() == QEvent::KeyPress)
        return Form_KeyDown(static_cast<QKeyEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

}  // namespace kw
