#include "ui/frmtask.h"

#include "core/settings.h"
#include "platform/dialogs.h"
#include "ui/controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace kw {
namespace {

constexpr qint32 kGreen = 0x0000C000;
constexpr qint32 kWhite = 0x00FFFFFF;

}  // namespace

FrmTask::FrmTask(AppData& data, EventLog& log, Desktop& desktop, QWidget* mainWindow)
    : ListEditorWindow(
          data, log, desktop, mainWindow,
          {&AppData::TaskList, &Settings::TaskListFile, QStringLiteral("Writting Tasklist...")}) {
    setObjectName(QStringLiteral("frmTask"));
    setWindowTitle(tr("Tasklist"));
    setFixedSize(470, 360);

    auto* frame1 = new QGroupBox(this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setGeometry(10, 6, 450, 68);
    auto* label = new QLabel(tr("Folgende Tasks werden gestartet, wenn diese nicht "
                                "aktiv sind (sinnvoll wenn z.B. ein P2P-Programm "
                                "abstürzt)"),
                             frame1);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    label->setGeometry(10, 8, 304, 54);
    SetTextColor(label, kWhite);
    QPushButton* browse =
        makeButton(frame1, QStringLiteral("ButBrowse"), tr("Task hinzufügen"), {322, 20, 118, 28});
    connect(browse, &QPushButton::clicked, this, &FrmTask::ButBrowse_Click);

    auto* frame2 = new QGroupBox(this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(10, 80, 450, 228);
    createCommonControls(frame2, kGreen, QStringLiteral("mnuTask"), tr("Task"),
                         tr("Task entfernen"));
    m_lbt->setGeometry(10, 10, 430, 208);
    m_butOK->setGeometry(10, 318, 220, 32);
    m_butCancel->setGeometry(240, 318, 220, 32);
}

void FrmTask::ButBrowse_Click() {
    const QString program = BrowseForFile(this, QStringLiteral("*.Exe"));
    if (!program.isEmpty())
        addLine(program);
}

}  // namespace kw
