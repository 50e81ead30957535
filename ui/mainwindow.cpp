#include "ui/mainwindow.h"

#include "core/desktop.h"
#include "core/files.h"
#include "core/logactions.h"
#include "core/settings.h"
#include "core/settingsstore.h"
#include "p2p/detector.h"
#include "platform/dialogs.h"
#include "platform/fs.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "scan/engine.h"
#include "scan/register.h"
#include "ui/autostartbox.h"
#include "ui/colors.h"
#include "ui/controls.h"
#include "ui/frmlist.h"
#include "ui/frmp2pnew.h"
#include "ui/frmpairs.h"
#include "ui/frmprefix.h"
#include "ui/frmtask.h"
#include "ui/hyperlinks.h"
#include "ui/listhover.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QWindow>

#include <algorithm>

namespace kw {
namespace {

constexpr char kPlaySymbol[] = "\u25B6";

// How long copied files and log lines wait before their lists take them together.
constexpr int kListBatchMs = 100;

bool caseInsensitiveLess(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) < 0;
}

// Puts the paths, given in the order they were copied, into the alphabetically sorted list at
// the places one insert after the other would have given them: before the lines that compare
// equal without regard to case, so the later of two such paths stands first. Each contiguous run
// goes in with one insert, and the view lays itself out once for the whole batch.
void InsertSorted(QListWidget* list, QStringList paths) {
    std::reverse(paths.begin(), paths.end());
    std::stable_sort(paths.begin(), paths.end(), caseInsensitiveLess);
    int row = 0;
    for (qsizetype next = 0; next < paths.size();) {
        // First line at or after row that does not sort before the path: halving, as the
        // engine does.
        int low = row, high = list->count();
        while (low < high) {
            const int middle = low + (high - low) / 2;
            if (caseInsensitiveLess(list->item(middle)->text(), paths[next]))
                low = middle + 1;
            else
                high = middle;
        }
        row = low;
        QStringList run;
        while (next < paths.size() &&
               (row >= list->count() || !caseInsensitiveLess(list->item(row)->text(), paths[next])))
            run.append(paths[next++]);
        list->insertItems(row, run);
        row += int(run.size());
    }
}

// Design colours, 0x00BBGGRR as everywhere in the program.
constexpr qint32 kDesignBackground = 0x00C00000;
constexpr qint32 kRed = 0x000000FF;
constexpr qint32 kGreen = 0x0000C000;
constexpr qint32 kWhite = 0x00FFFFFF;
constexpr qint32 kYellow = 0x0000FFFF;
constexpr qint32 kBlack = 0;
// Hyperlink labels: yellow, blue while the pointer is over them.
constexpr qint32 kLinkColor = 0x0000FFFF;
constexpr qint32 kLinkColorMouseOver = 0x00FF0000;

qint32 textColor(const QWidget* widget) {
    return fromQColor(widget->palette().color(QPalette::Text));
}

QGroupBox* makeFrame(QWidget* parent, const char* name, const QString& caption, qint32 color,
                     const QRect& geometry) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(QLatin1String(name));
    frame->setGeometry(geometry);
    setTextColor(frame, color);
    return frame;
}

QPushButton* makePlayButton(QWidget* parent, const char* name, const QRect& geometry) {
    QPushButton* button =
        makeButton(parent, QLatin1String(name), QString::fromUtf8(kPlaySymbol), geometry);
    QFont font = button->font();
    font.setBold(false);
    font.setPointSize(12);
    button->setFont(font);
    return button;
}

// A button whose caption is a letter or a symbol says what it does to the pointer and to screen
// readers.
void describe(QPushButton* button, const QString& what) {
    button->setToolTip(what);
    button->setAccessibleName(what);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption,
                  const QRect& geometry) {
    return kw::makeLabel(parent, QLatin1String(name), caption, geometry, kWhite);
}

QLineEdit* makeTextBox(QWidget* parent, const QString& name, const QRect& geometry) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setGeometry(geometry);
    // Nothing typed here would be stored; the buttons beside the box choose.
    box->setReadOnly(true);
    setTextColor(box, kWhite);
    return box;
}

QString indexed(const char* name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

}  // namespace

FrmMain::FrmMain(AppData& data, EventLog& log, Desktop& desktop, ScanEngine& engine,
                 QWidget* parent)
    : QWidget(parent), m_data(data), m_log(log), m_desktop(desktop), m_engine(engine) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral(" Kopierwart"));
    setFixedSize(kWidth, kHeight);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(kDesignBackground));
    setPalette(palette);
    setAutoFillBackground(true);
    createControls();
    createMenu();
    createP2PControls();

    m_blink.setInterval(1000);
    connect(&m_blink, &QTimer::timeout, this, &FrmMain::Blink_Timer);
    m_blink.start();

    connect(&m_engine, &ScanEngine::statisticsChanged, this, &FrmMain::setStatisticsCaption);
    connect(&m_engine, &ScanEngine::copiedFileAdded, this, &FrmMain::insertCopiedFile);
    // The moves of a burst arrive in many small batches, so a zero timer would still lay the lists
    // out often; a few batches a second keep a burst cheap and the lists current to the eye.
    m_listBatch.setSingleShot(true);
    m_listBatch.setInterval(kListBatchMs);
    connect(&m_listBatch, &QTimer::timeout, this, &FrmMain::flushLists);
    connect(&m_engine, &ScanEngine::foldersCleared, this, &FrmMain::SetText);
    // A destination whose file system has gone says so in its frame until it is back.
    connect(&m_engine, &ScanEngine::destinationWaiting, this,
            [this](bool waiting, const QString& mountPoint) {
                m_missingMedium = waiting ? mountPoint : QString();
                showDestinationState();
            });
    connect(&m_engine, &ScanEngine::fileSystemAnswering, this, [this](bool answering) {
        m_notAnswering = !answering;
        showDestinationState();
    });
}

void FrmMain::showDestinationState() {
    QString title = tr("Zielverzeichnis");
    if (m_notAnswering)
        title += tr(" – antwortet nicht, Kopierwart wartet");
    else if (!m_missingMedium.isEmpty())
        title += tr(" – Datenträger fehlt, warte auf ") + m_missingMedium;
    m_frame2->setTitle(title);
}

FrmMain::~FrmMain() = default;

void FrmMain::createControls() {
    // Left column: the two folders, the interval, the sound file and the window's buttons.
    m_frame1 = makeFrame(this, "Frame1", tr("Zu überwachendes Verzeichnis"), kRed, {6, 2, 394, 50});
    m_frame2 = makeFrame(this, "Frame2", tr("Zielverzeichnis"), kRed, {6, 54, 394, 50});
    QGroupBox* folderFrames[2] = {m_frame1, m_frame2};
    for (int i = 0; i < 2; ++i) {
        m_text[i] = makeTextBox(folderFrames[i], indexed("Text", i), {8, 20, 234, 22});
        m_butOpenDir[i] =
            makeButton(folderFrames[i], indexed("ButOpenDir", i), tr("Öffnen"), {248, 20, 66, 22});
        m_butOpenDir[i]->setEnabled(false);
        m_butBrowse[i] =
            makeButton(folderFrames[i], indexed("ButBrowse", i), tr("Suchen"), {318, 20, 66, 22});
        connect(m_text[i], &QLineEdit::textChanged, this, [this, i] { Text_Change(i); });
        connect(m_butOpenDir[i], &QPushButton::clicked, this, [this, i] { ButOpenDir_Click(i); });
        connect(m_butBrowse[i], &QPushButton::clicked, this, [this, i] { ButBrowse_Click(i); });
    }

    m_labelScroll = makeLabel(this, "LabelScroll", tr("TimerIntervall (x Sec)"), {8, 108, 300, 16});
    m_hScroll = new QScrollBar(Qt::Horizontal, this);
    m_hScroll->setObjectName(QStringLiteral("HScroll"));
    m_hScroll->setGeometry(8, 126, 350, 18);
    m_hScroll->setRange(1, 60);
    m_hScroll->setPageStep(5);
    m_hScroll->setCursor(Qt::PointingHandCursor);
    // A drag applies its interval once, when the thumb is let go.
    m_hScroll->setTracking(false);
    connect(m_hScroll, &QScrollBar::valueChanged, this, &FrmMain::HScroll_Change);
    QPushButton* goTimer = makePlayButton(this, "butGoTimer", {366, 122, 30, 24});
    describe(goTimer, tr("Überwachtes Verzeichnis jetzt prüfen"));
    connect(goTimer, &QPushButton::clicked, &m_engine, &ScanEngine::butGoTimer_Click);

    m_label1 = makeLabel(this, "Label1", tr("Bei Kopiervorgang folgende Sounddatei wiedergeben"),
                         {8, 152, 390, 16});
    m_textSound = makeTextBox(this, QStringLiteral("TextSound"), {8, 170, 250, 22});
    QPushButton* browseSound =
        makeButton(this, QStringLiteral("ButBrowseSound"), tr("Suchen"), {264, 170, 66, 22});
    connect(browseSound, &QPushButton::clicked, this, &FrmMain::ButBrowseSound_Click);
    QPushButton* play = makePlayButton(this, "ButPlay", {366, 169, 30, 24});
    describe(play, tr("Klangdatei abspielen"));
    connect(play, &QPushButton::clicked, this, &FrmMain::ButPlay_Click);

    QPushButton* prefix =
        makeButton(this, QStringLiteral("ButPrefix"), tr("Gesperrte Endungen"), {8, 200, 140, 24});
    connect(prefix, &QPushButton::clicked, this, &FrmMain::ButPrefix_Click);
    QPushButton* tasklist =
        makeButton(this, QStringLiteral("ButTasklist"), tr("Tasklist"), {152, 200, 76, 24});
    connect(tasklist, &QPushButton::clicked, this, &FrmMain::ButTasklist_Click);
    QPushButton* list =
        makeButton(this, QStringLiteral("ButList"), QStringLiteral("L"), {232, 200, 28, 24});
    describe(list, tr("Liste der kopierten Dateien"));
    connect(list, &QPushButton::clicked, this, &FrmMain::ButList_Click);
    QPushButton* color =
        makeButton(this, QStringLiteral("ButColor"), tr("Farbe"), {264, 200, 48, 24});
    connect(color, &QPushButton::clicked, this, &FrmMain::ButColor_Click);
    QPushButton* pairs =
        makeButton(this, QStringLiteral("ButPairs"), tr("Paare"), {316, 200, 46, 24});
    describe(pairs, tr("Weitere Verzeichnispaare"));
    connect(pairs, &QPushButton::clicked, this, &FrmMain::ButPairs_Click);
    QPushButton* about =
        makeButton(this, QStringLiteral("ButAbout"), QStringLiteral("?"), {366, 200, 30, 24});
    describe(about, tr("Über Kopierwart"));
    connect(about, &QPushButton::clicked, this, &FrmMain::ButAbout_Click);

    // Right column: the statistics with the copied files, and the two links.
    m_frame3 = makeFrame(this, "Frame3", tr("Statistik"), kGreen, {406, 2, 386, 178});
    QPushButton* deleteLog = makeButton(m_frame3, QStringLiteral("ButDeleteLog"),
                                        QStringLiteral("D"), {352, 16, 26, 24});
    describe(deleteLog, tr("Protokoll und Liste der kopierten Dateien löschen"));
    connect(deleteLog, &QPushButton::clicked, this,
            [this] { DeleteLogs(m_log, m_data.My, m_desktop); });
    m_frame = makeFrame(m_frame3, "Frame", StatisticsCaption(0, 0), kGreen, {6, 16, 340, 130});
    m_lbFiles = new QListWidget(m_frame);
    m_lbFiles->setObjectName(QStringLiteral("LBfiles"));
    m_lbFiles->setGeometry(8, 20, 324, 102);
    m_lbFiles->setUniformItemSizes(true);
    setTextColor(m_lbFiles, kWhite);
    EnableListHover(m_lbFiles);
    m_lbFiles->viewport()->installEventFilter(this);

    QFont linkFont = font();
    linkFont.setPointSizeF(9.75);
    linkFont.setBold(true);
    m_labelMail = makeLabel(this, "LabelMail", contactMailAddress(), {412, 184, 376, 18});
    m_labelPage = makeLabel(this, "LabelPage", homepageAddress(), {412, 204, 376, 18});
    for (QLabel* link : {m_labelMail, m_labelPage}) {
        link->setFont(linkFont);
        link->installEventFilter(this);
    }
    // Start with the session, beside the mail link.
    makeAutostartBox(this, {690, 184, 100, 18}, m_log, m_desktop);

    // Bottom: the debug window across the whole width.
    m_frame5 = makeFrame(this, "Frame5", tr("DebugWindow"), kWhite, {6, 226, 750, 86});
    m_lbDebug = new QListWidget(m_frame5);
    m_lbDebug->setObjectName(QStringLiteral("LBdebug"));
    m_lbDebug->setGeometry(8, 18, 734, 62);
    m_lbDebug->setUniformItemSizes(true);
    setTextColor(m_lbDebug, kYellow);
    EnableListHover(m_lbDebug);
    QPushButton* showLog =
        makeButton(this, QStringLiteral("butShowLog"), QStringLiteral("L"), {762, 236, 30, 24});
    describe(showLog, tr("Protokolldatei anzeigen"));
    connect(showLog, &QPushButton::clicked, this, [this] { ShowLog(m_data.My, m_desktop); });
    QPushButton* clear =
        makeButton(this, QStringLiteral("ButLBclear"), QStringLiteral("C"), {762, 266, 30, 24});
    describe(clear, tr("Debug-Fenster leeren"));
    connect(clear, &QPushButton::clicked, this, [this] { ClearDebugWindow(m_log, *this); });
}

void FrmMain::createMenu() {
    m_mnu = new QMenu(this);
    m_mnu->setObjectName(QStringLiteral("mnu"));
    QAction* execute = m_mnu->addAction(tr("Datei ausführen"));
    execute->setObjectName(QStringLiteral("mnuExecute"));
    m_mnu->addSeparator()->setObjectName(QStringLiteral("Sep"));
    QAction* remove = m_mnu->addAction(tr("Datei löschen"));
    remove->setObjectName(QStringLiteral("mnuDelete"));
    m_mnu->addSeparator()->setObjectName(QStringLiteral("Sep1"));
    QAction* forget = m_mnu->addAction(tr("Datei aus der Liste entfernen"));
    forget->setObjectName(QStringLiteral("mnuRemove"));
    connect(execute, &QAction::triggered, this, &FrmMain::mnuExecute_Click);
    connect(remove, &QAction::triggered, this, &FrmMain::mnuDelete_Click);
    connect(forget, &QAction::triggered, this, &FrmMain::mnuRemove_Click);
}

void FrmMain::createP2PControls() {
    // Below the copied files: the running P2P programs, and the dialog that adds one.
    m_labelP2P = makeLabel(m_frame3, "LabelP2P", QString(), {10, 152, 256, 20});
    m_butP2P =
        makeButton(m_frame3, QStringLiteral("ButP2P"), tr("P2P hinzufügen"), {270, 150, 108, 24});
    m_butP2P->setEnabled(false);
    connect(m_butP2P, &QPushButton::clicked, this, &FrmMain::ButP2P_Click);
    showDetectedPrograms({});
}

void FrmMain::attachP2P(P2PDetector& detector, WindowSearch& search) {
    m_windowSearch = &search;
    m_butP2P->setEnabled(true);
    connect(&detector, &P2PDetector::LBp2pChanged, this, &FrmMain::showDetectedPrograms);
    showDetectedPrograms(detector.LBp2p());
}

void FrmMain::showDetectedPrograms(const QStringList& names) {
    const QString text =
        QLatin1String("P2P: ") +
        (names.isEmpty() ? tr("keine laufenden Programme") : names.join(QLatin1String(", ")));
    m_labelP2P->setText(
        m_labelP2P->fontMetrics().elidedText(text, Qt::ElideRight, m_labelP2P->width()));
    // The names are window titles of other programs: the tip shows them as plain text.
    m_labelP2P->setToolTip(names.isEmpty() ? QString()
                                           : Qt::convertFromPlainText(names.join(QLatin1Char('\n')),
                                                                      Qt::WhiteSpaceNoWrap));
}

void FrmMain::ButP2P_Click() {
    if (!m_windowSearch)
        return;
    if (!m_frmP2Pnew)
        m_frmP2Pnew = new FrmP2Pnew(m_data, m_log, m_desktop, *m_windowSearch, this);
    m_frmP2Pnew->show();
    m_frmP2Pnew->raise();
    m_frmP2Pnew->activateWindow();
}

void FrmMain::SetText() {
    const QString prompt = directoryPlaceholder();
    m_text[0]->setText(m_data.My.Source.isEmpty() ? prompt : m_data.My.Source);
    m_text[1]->setText(m_data.My.Destination.isEmpty() ? prompt : m_data.My.Destination);
}

QString FrmMain::directoryPlaceholder() {
    return tr("Bitte Verzeichnis angeben !");
}

void FrmMain::applyInterval(int seconds) {
    if (m_hScroll->value() == seconds)
        HScroll_Change();
    else
        m_hScroll->setValue(seconds);
}

void FrmMain::setStatisticsCaption(const QString& caption) {
    m_frame->setTitle(caption);
}

void FrmMain::setSoundFileText(const QString& file) {
    m_textSound->setText(file);
}

void FrmMain::insertCopiedFile(int /*row*/, const QString& destinationPath) {
    // The engine's row counts the paths still waiting here, so the batch finds its own places.
    m_copiedFilesWaiting.append(destinationPath);
    if (!m_listBatch.isActive())
        m_listBatch.start();
}

void FrmMain::flushLists() {
    m_listBatch.stop();
    QStringList batch;
    batch.swap(m_copiedFilesWaiting);
    InsertSorted(m_lbFiles, batch);
    if (m_lastDebugLineDue) {
        m_lastDebugLineDue = false;
        m_lbDebug->setCurrentRow(m_lbDebug->count() - 1);
    }
}

void FrmMain::applyColorScheme() {
    ApplyColorScheme(this, m_data.My.ControlColor, m_log);
}

void FrmMain::makeHyperlinks() {
    MakeHyperlink(m_labelMail, kLinkColor, kLinkColorMouseOver);
    MakeHyperlink(m_labelPage, kLinkColor, kLinkColorMouseOver);
}

int FrmMain::lineCount() const {
    return m_lbDebug->count();
}

void FrmMain::appendLine(const QString& line) {
    m_lbDebug->addItem(line);
}

void FrmMain::removeFirstLine() {
    delete m_lbDebug->takeItem(0);
}

void FrmMain::selectLastLine() {
    // Selecting scrolls, and scrolling lays the whole list out: once per batch, not per line.
    m_lastDebugLineDue = true;
    if (!m_listBatch.isActive())
        m_listBatch.start();
}

void FrmMain::clearLines() {
    m_lbDebug->clear();
}

void FrmMain::Text_Change(int index) {
    const QString text = m_text[index]->text();
    if (!text.isEmpty() && text != directoryPlaceholder())
        m_butOpenDir[index]->setEnabled(true);
}

void FrmMain::Blink_Timer() {
    for (QLineEdit* box : m_text) {
        if (box->text() == directoryPlaceholder())
            setTextColor(box, textColor(box) == kBlack ? kWhite : kBlack);
        else if (textColor(box) == kBlack)
            setTextColor(box, kWhite);
    }
}

void FrmMain::ButBrowse_Click(int index) {
    const QString title =
        index == 0 ? tr("Zu überwachendes Verzeichnis suchen") : tr("Zielverzeichnis suchen");
    const QString chosen = BrowseForFolder(this, title);
    if (chosen.isEmpty())
        return;
    const QString folder = AddBackslash(chosen);
    const QString key = index == 0 ? QStringLiteral("Source") : QStringLiteral("Destination");
    // Checked before it is stored: the two folders one, or one inside the other, would make the
    // next pass find every file of the destination "already there" and delete it.
    // The folders are looked at once for this check and the one against the further pairs.
    const PairLineages mine = lineagesOf(index == 0 ? FolderPair{folder, m_data.My.Destination}
                                                    : FolderPair{m_data.My.Source, folder});
    if (mine.source.overlaps(mine.destination)) {
        m_log.WriteLog(QLatin1String("Refused My.") + key + QLatin1String(" = ") + folder +
                       QLatin1String(": it is the other folder, or one lies inside the other"));
        m_desktop.ShowMessage(
            tr("Fehler"),
            tr("Das zu überwachende Verzeichnis und das Zielverzeichnis wären dasselbe "
               "Verzeichnis, oder eines läge im anderen:") +
                kCrLfText + kCrLfText + folder + kCrLfText + kCrLfText +
                tr("Die Einstellung bleibt, wie sie war. Bitte wählen Sie ein "
                   "anderes Verzeichnis.") +
                kCrLfText,
            MB_ICONERROR);
        return;
    }
    // Nor may the main window's pair clash with a further pair.
    for (const FolderPair& pair : std::as_const(m_data.Pairs)) {
        if (!PairsClash(mine, lineagesOf(pair)))
            continue;
        m_log.WriteLog(QLatin1String("Refused My.") + key + QLatin1String(" = ") + folder +
                       QLatin1String(": it overlaps the pair ") + pair.Source +
                       QLatin1String(" -> ") + pair.Destination);
        m_desktop.ShowMessage(tr("Fehler"),
                              tr("Das Verzeichnis überschneidet sich mit einem weiteren "
                                 "Verzeichnispaar:") +
                                  kCrLfText + kCrLfText + PairLine(pair) + kCrLfText + kCrLfText +
                                  tr("Die Einstellung bleibt, wie sie war. Bitte wählen Sie ein "
                                     "anderes Verzeichnis.") +
                                  kCrLfText,
                              MB_ICONERROR);
        return;
    }
    m_text[index]->setText(folder);
    SettingsStore settings(m_data.My);
    if (index == 0)
        settings.setSource(folder);
    else
        settings.setDestination(folder);
    m_log.WriteLog(QLatin1String("Set My.") + key + QLatin1String(" = ") + folder);
    if (index == 1)
        m_engine.DestinationChosen();
}

void FrmMain::ButOpenDir_Click(int index) {
    const QString path = m_text[index]->text();
    m_log.WriteLog(QLatin1String("Open Path '") + path + QLatin1Char('\''));
    OpenFolder(path);
}

void FrmMain::HScroll_Change() {
    const int seconds = m_hScroll->value();
    SettingsStore(m_data.My).setScanInterval(seconds);
    m_labelScroll->setText(tr("TimerIntervall (%1 Sec)").arg(seconds));
    m_log.WriteLog(QStringLiteral("Set Timerintervall to %1s").arg(seconds));
    m_engine.setInterval(seconds);
}

QString FrmMain::selectedCopiedFile() const {
    const QListWidgetItem* item = m_lbFiles->currentItem();
    return item && item->isSelected() ? item->text() : QString();
}

void FrmMain::removeSelectedCopiedFile() {
    const QString path = selectedCopiedFile();
    if (path.isEmpty())
        return;
    m_engine.removeFromLBfiles(path);
    delete m_lbFiles->takeItem(m_lbFiles->currentRow());
}

bool FrmMain::LBfiles_MouseDown(QMouseEvent* event) {
    if (event->button() != Qt::RightButton || selectedCopiedFile().isEmpty())
        return false;
    m_mnu->exec(event->globalPosition().toPoint());
    return true;
}

void FrmMain::mnuExecute_Click() {
    const QString path = selectedCopiedFile();
    // Opened as a document with its type's program: a moved file is a download, and running one
    // that happens to be executable would start whatever a stranger sent.
    if (!path.isEmpty())
        m_desktop.OpenDocument(path);
}

void FrmMain::mnuDelete_Click() {
    const QString path = selectedCopiedFile();
    if (path.isEmpty())
        return;
    hide();
    const int answer =
        m_desktop.ShowMessage(tr("Datei löschen"),
                              tr("Wollen Sie die Datei") + QLatin1String(kCrLfText) + path +
                                  QLatin1String(kCrLfText) + tr("wirklich löschen ?"),
                              MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDYES) {
        const int result = DeleteCopiedFile(path);
        // Only a name that is free now loses its line; whatever still stands there keeps it.
        if (result != 0) {
            m_log.WriteLog(QLatin1String("Error deleting '") + path + QLatin1String("': ") +
                           fs::errorText(result));
        } else {
            removeSelectedCopiedFile();
        }
    }
    show();
}

void FrmMain::mnuRemove_Click() {
    removeSelectedCopiedFile();
}

void FrmMain::ButAbout_Click() {
    m_log.WriteLog(QStringLiteral("Showing About"));
    const QString crLf = QLatin1String(kCrLfText);
    const QString& title = m_data.My.ProgramTitle;
    const QString text = title + QLatin1Char(' ') + m_data.My.ProgramVersion + crLf +
                         tr("     Kontakt: ") + contactMailAddress() + crLf + crLf +
                         tr("Genial ist der %1 für P2P-Programme .)").arg(title) + crLf +
                         tr("Keine Dateien im Upload-Verzeichnis = KEIN UPLOAD") + crLf + crLf;
    hide();
    m_desktop.ShowMessage(tr("About"), text, MB_OK);
    show();
}

void FrmMain::ButPlay_Click() {
    const QString file = m_textSound->text();
    if (!file.isEmpty())
        m_log.WriteLog(QLatin1String("Playing '") + m_data.My.SoundFile + QLatin1Char('\''));
    m_desktop.PlaySoundFile(1, file);
}

void FrmMain::ButBrowseSound_Click() {
    const QString file = BrowseForFile(this, QStringLiteral("*.wav"));
    if (file.isEmpty())
        return;
    if (!CanPlaySoundFile(file)) {
        m_desktop.ShowMessage(tr("Fehler"),
                              tr("Die angegebene Datei kann nicht wiedergegeben werden !"),
                              MB_ICONERROR);
        return;
    }
    m_textSound->setText(file);
    SettingsStore(m_data.My).setSoundFile(file);
    m_log.WriteLog(QLatin1String("Set My.SoundFile = ") + file);
}

void FrmMain::ButColor_Click() {
    const qint32 color = PickColor(this);
    if (color < 0)
        return;
    SettingsStore(m_data.My).setControlColor(color);
    applyColorScheme();
}

void FrmMain::RandomBackgroundColor() {
    SettingsStore(m_data.My).setControlColor(RandomColor());
    applyColorScheme();
}

void FrmMain::LabelMail_Click() {
    m_log.WriteLog(QStringLiteral("Open Email"));
    SendMail(
        m_desktop, m_labelMail->text(),
        m_data.My.ProgramTitle + QLatin1String(" (") + m_data.My.ProgramVersion + QLatin1Char(')'),
        {});
}

void FrmMain::LabelPage_Click() {
    m_log.WriteLog(QStringLiteral("Launching WebBrowser for Homepage"));
    OpenInBrowser(m_desktop, m_labelPage->text());
}

void FrmMain::ButPairs_Click() {
    if (!m_frmPairs)
        m_frmPairs = std::make_unique<FrmPairs>(m_data, m_log, m_desktop, this);
    m_frmPairs->open();
}

void FrmMain::ButPrefix_Click() {
    if (!m_frmPrefix)
        m_frmPrefix = std::make_unique<FrmPrefix>(m_data, m_log, m_desktop, this);
    m_frmPrefix->open();
}

void FrmMain::ButTasklist_Click() {
    if (!m_frmTask)
        m_frmTask = std::make_unique<FrmTask>(m_data, m_log, m_desktop, this);
    m_frmTask->open();
}

void FrmMain::ButList_Click() {
    if (!m_frmList)
        m_frmList = std::make_unique<FrmList>(m_data, m_log, m_desktop);
    m_frmList->open();
}

void FrmMain::DragWindow() {
    if (QWindow* window = windowHandle())
        window->startSystemMove();
}

void FrmMain::closeEvent(QCloseEvent* event) {
    // The window never closes by itself: the program's shutdown ends it, whatever the cause.
    event->ignore();
    Q_EMIT closeRequested();
}

void FrmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_hideWhenMinimized)
        QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

void FrmMain::mousePressEvent(QMouseEvent* event) {
    QWidget* pressed = childAt(event->position().toPoint());
    if (event->button() == Qt::RightButton && !pressed) {
        RandomBackgroundColor();
        return;
    }
    const bool dragsWindow = !pressed || pressed == m_frame1 || pressed == m_frame2 ||
                             pressed == m_frame3 || pressed == m_frame || pressed == m_frame5 ||
                             pressed == m_label1 || pressed == m_labelScroll;
    if (event->buttons() == Qt::LeftButton && dragsWindow)
        DragWindow();
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    auto* press = static_cast<QMouseEvent*>(event);
    if (watched == m_lbFiles->viewport())
        return LBfiles_MouseDown(press);
    if (press->button() != Qt::LeftButton)
        return false;
    if (watched == m_labelMail) {
        LabelMail_Click();
        return true;
    }
    if (watched == m_labelPage) {
        LabelPage_Click();
        return true;
    }
    return false;
}

}  // namespace kw
