#include "ui/frmpairs.h"

#include "core/desktop.h"
#include "core/eventlog.h"
#include "core/files.h"
#include "core/settings.h"
#include "platform/dialogs.h"
#include "platform/fs.h"
#include "ui/controls.h"
#include "ui/listeditorwindow.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace kw {
namespace {

constexpr qint32 kRed = 0x000000FF;
constexpr qint32 kWhite = 0x00FFFFFF;

}  // namespace

QString PairLine(const FolderPair& pair) {
    return pair.Source + QStringLiteral("  \u2192  ") + pair.Destination;
}

FrmPairs::FrmPairs(AppData& data, EventLog& log, Desktop& desktop, QWidget* mainWindow)
    : m_data(data), m_log(log), m_desktop(desktop), m_mainWindow(mainWindow) {
    setObjectName(QStringLiteral("frmPairs"));
    setWindowTitle(tr("Verzeichnispaare"));
    setFixedSize(560, 360);

    auto* label = new QLabel(tr("Jedes überwachte Verzeichnis hat sein eigenes Zielverzeichnis. "
                                "Das erste Paar ist das des Hauptfensters und wird dort "
                                "geändert."),
                             this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    label->setGeometry(10, 6, 540, 36);
    SetTextColor(label, kWhite);

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setGeometry(10, 46, 540, 264);
    m_list = new QTreeWidget(frame);
    m_list->setObjectName(QStringLiteral("LBpairs"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setHeaderLabels({tr("Überwachtes Verzeichnis"), tr("Zielverzeichnis")});
    m_list->header()->setSectionResizeMode(QHeaderView::Stretch);
    m_list->setAccessibleName(tr("Verzeichnispaare: überwachtes Verzeichnis und Zielverzeichnis"));
    m_list->setGeometry(10, 10, 520, 208);
    SetTextColor(m_list, kRed);
    QPushButton* add =
        makeButton(frame, QStringLiteral("ButAdd"), tr("Hinzufügen"), {10, 226, 255, 28});
    add->setAccessibleName(tr("Paar hinzufügen"));
    connect(add, &QPushButton::clicked, this, &FrmPairs::ButAdd_Click);
    m_butRemove =
        makeButton(frame, QStringLiteral("ButRemove"), tr("Entfernen"), {275, 226, 255, 28});
    m_butRemove->setAccessibleName(tr("Gewähltes Paar entfernen"));
    connect(m_butRemove, &QPushButton::clicked, this, &FrmPairs::ButRemove_Click);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> chosen = m_list->selectedItems();
        m_butRemove->setEnabled(!chosen.isEmpty() &&
                                m_list->indexOfTopLevelItem(chosen.first()) > 0);
    });

    QPushButton* ok = makeButton(this, QStringLiteral("ButOK"), tr("OK"), {10, 318, 265, 32});
    ok->setAccessibleName(tr("Paare übernehmen"));
    connect(ok, &QPushButton::clicked, this, &FrmPairs::ButOK_Click);
    QPushButton* cancel =
        makeButton(this, QStringLiteral("ButCancel"), tr("Abbrechen"), {285, 318, 265, 32});
    cancel->setAccessibleName(tr("Abbrechen, die Paare bleiben, wie sie waren"));
    connect(cancel, &QPushButton::clicked, this, &FrmPairs::ButCancel_Click);
}

FrmPairs::~FrmPairs() = default;

void FrmPairs::open() {
    openWindow(this, [this] { Form_Load(); });
}

void FrmPairs::Form_Load() {
    m_cancelled = false;
    PrepareEditorWindow(this, m_mainWindow, m_list->viewport(), m_data.My.ControlColor);
    m_pairs = m_data.Pairs;
    showPairs();
}

QList<FolderPair> FrmPairs::allPairs() const {
    return QList<FolderPair>{{m_data.My.Source, m_data.My.Destination}} + m_pairs;
}

void FrmPairs::showPairs() {
    m_list->clear();
    const QList<FolderPair> pairs = allPairs();
    for (int i = 0; i < pairs.size(); ++i) {
        auto* item = new QTreeWidgetItem(m_list, {pairs[i].Source, pairs[i].Destination});
        item->setToolTip(0, pairs[i].Source);
        item->setToolTip(1, pairs[i].Destination);
        // The main window's pair is changed there, not here.
        if (i == 0) {
            item->setFlags(item->flags() & ~Qt::ItemIsSelectable);
            item->setToolTip(0, tr("Das Paar des Hauptfensters"));
            for (int column = 0; column < 2; ++column) {
                QFont font = item->font(column);
                font.setItalic(true);
                item->setFont(column, font);
            }
        }
    }
    m_butRemove->setEnabled(false);
}

void FrmPairs::ButAdd_Click() {
    const QString source = BrowseForFolder(this, tr("Zu überwachendes Verzeichnis suchen"));
    if (source.isEmpty())
        return;
    const QString destination = BrowseForFolder(this, tr("Zielverzeichnis suchen"));
    if (destination.isEmpty())
        return;
    addPair({AddBackslash(source), AddBackslash(destination)});
}

bool FrmPairs::addPair(const FolderPair& pair) {
    const QList<FolderPair> before = allPairs();
    // The new pair against each listed one, and its own two folders against each other; its
    // folders are looked at once.
    const PairLineages added = lineagesOf(pair);
    int other = -1;
    for (int i = 0; i < before.size() && other < 0; ++i) {
        if (PairsClash(added, lineagesOf(before[i])))
            other = i;
    }
    if (other < 0 && !added.source.overlaps(added.destination)) {
        m_pairs.append(pair);
        showPairs();
        return true;
    }
    m_log.WriteLog(QLatin1String("Refused Pair = ") + pair.Source + QLatin1String(" -> ") +
                   pair.Destination +
                   (other < 0 ? QLatin1String(": its two folders are one, or one lies inside "
                                              "the other")
                              : QLatin1String(": it overlaps the pair ") + before[other].Source +
                                    QLatin1String(" -> ") + before[other].Destination));
    m_desktop.ShowMessage(
        tr("Fehler"),
        tr("Ein überwachtes Verzeichnis darf weder ein anderes überwachtes Verzeichnis oder ein "
           "Zielverzeichnis sein, noch in einem liegen oder eines enthalten:") +
            kCrLfText + kCrLfText + PairLine(pair) + kCrLfText +
            (other >= 0 ? PairLine(before[other]) + kCrLfText : QString()) + kCrLfText +
            tr("Das Paar wird nicht hinzugefügt.") + kCrLfText,
        MB_ICONERROR);
    return false;
}

void FrmPairs::ButRemove_Click() {
    const QList<QTreeWidgetItem*> chosen = m_list->selectedItems();
    const int row = chosen.isEmpty() ? -1 : m_list->indexOfTopLevelItem(chosen.first());
    if (row <= 0 || row > m_pairs.size())
        return;
    m_pairs.removeAt(row - 1);
    showPairs();
}

void FrmPairs::ButOK_Click() {
    close();
}

void FrmPairs::ButCancel_Click() {
    m_cancelled = true;
    close();
}

void FrmPairs::closeEvent(QCloseEvent* event) {
    if (!m_cancelled && m_pairs != m_data.Pairs) {
        m_log.WriteLog(QStringLiteral("Writing Pairs..."));
        // The pairs stay in memory even when the file cannot be written; the failure is logged.
        m_data.Pairs = m_pairs;
        // Pairs given up in this run are not shown, but their lines stay for the next start.
        QList<FolderPair> stored = m_pairs;
        for (const FolderPair& pair : std::as_const(m_data.PairsGivenUp)) {
            if (!stored.contains(pair))
                stored.append(pair);
        }
        if (const int result = SaveFolderPairs(stored, m_data.My.PairListFile); result != 0)
            m_log.WriteLog(QLatin1String("Error writing '") + m_data.My.PairListFile +
                           QLatin1String("': ") + fs::errorText(result));
    }
    if (m_mainWindow)
        m_mainWindow->show();
    event->accept();
}

}  // namespace kw
