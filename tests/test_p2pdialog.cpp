// The add-program dialog and the main window's view of the detected programs, on a real X server:
// the toolkit runs on the suite's own Xvfb, the helper program makes the other programs' windows.

#include "core/files.h"
#include "p2p/detector.h"
#include "platform/x11/x11windowsearch.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/xserver.h"
#include "ui/frmp2pnew.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

using namespace kw;
using namespace kw::apptest;

namespace {

QString entry(const QString& name, const QString& windowClass) {
    return name + QChar(0) + windowClass;
}

// A literal's bytes, NULs included.
template <size_t N>
QByteArray bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

QStringList xcbErrors;

void recordXcbErrors(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (message.contains(QLatin1String("XCB error")))
        xcbErrors.append(message);
}

class AddProgramDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_xvfb = new test::XvfbServer;
        s_skipReason = s_xvfb->start();
        if (!s_skipReason.isEmpty())
            return;
        qputenv("DISPLAY", s_xvfb->display());
        qputenv("QT_QPA_PLATFORM", "xcb");
        ensureApplication();
    }
    static void TearDownTestSuite() {
        // The application goes before its X server, or losing the connection would end us.
        delete QCoreApplication::instance();
        delete s_xvfb;
        s_xvfb = nullptr;
    }

    void SetUp() override {
        if (!s_skipReason.isEmpty())
            KW_CANNOT_RUN(s_skipReason.toStdString());
        const QString whyNot = windows.start(s_xvfb->display());
        if (!whyNot.isEmpty())
            KW_CANNOT_RUN(whyNot.toStdString());
        search = CreateX11WindowSearch(s_xvfb->display(), {});
        ASSERT_TRUE(search);
        data.My.UserP2PListFile = dir.filePath("Kopierwart.Tasklst");
        data.My.ControlColor = 0x00C00000;
        data.UserP2PList = QStringList{};
        log.setDebugWindow(&debug);
    }

    FrmP2Pnew* open() {
        dialog = new FrmP2Pnew(data, log, desktop, *search);
        dialog->show();
        return dialog;
    }
    QListWidget* list() const { return dialog->findChild<QListWidget*>("LBtask"); }
    QStringList lines() const {
        QStringList texts;
        for (int i = 0; i < list()->count(); ++i)
            texts.append(list()->item(i)->text());
        return texts;
    }
    WindowId idOf(int row) const { return list()->item(row)->data(Qt::UserRole).value<WindowId>(); }
    // Chooses the line as the pointer does, then the menu's "Programm hinzufügen".
    void add(const QString& caption) {
        const int row = int(lines().indexOf(caption));
        ASSERT_GE(row, 0) << caption.toStdString();
        list()->setCurrentRow(row);
        dialog->mnuAdd_Click();
    }

    static inline test::XvfbServer* s_xvfb = nullptr;
    static inline QString s_skipReason;

    test::TestWindows windows;
    std::unique_ptr<WindowSearch> search;
    QTemporaryDir dir;
    AppData data;
    EventLog log;
    test::RecordingDebugWindow debug;
    test::RecordingDesktop desktop;
    QPointer<FrmP2Pnew> dialog;
};

}  // namespace

TEST_F(AddProgramDialog, ListsVisibleCaptionedWindowsButNotItsOwnOrProgramManager) {
    QWidget own;
    own.setWindowTitle("Eigenes Fenster");
    own.show();
    const WindowId first = windows.window("Same", "same", true, "Gleich");
    const WindowId second = windows.window("Same", "same", true, "Gleich");
    windows.window("Editor", "editor", true, "Grüße – 日本", "Alt");
    windows.window("Hidden", "hidden", false, "Versteckt");
    windows.window("NoCaption", "nocaption", true, "");
    windows.window("Progman", "progman", true, "", "Program Manager");
    windows.window("Imitat", "imitat", true, "Neues P2P-Programm");
    windows.window("Alt", "alt", true, "", "Übersicht");
    windows.window("Breaks", "breaks", true, "Zeile1\\r\\nZeile2");
    windows.framed("Framed", "Im Rahmen");

    open();
    QStringList shown = lines();
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, QStringList({"Gleich", "Gleich", "Grüße – 日本", "Im Rahmen", "Zeile1  Zeile2",
                                  "Übersicht"}));
    std::vector<WindowId> same;
    for (int row = 0; row < list()->count(); ++row) {
        if (list()->item(row)->text() == "Gleich")
            same.push_back(idOf(row));
    }
    std::sort(same.begin(), same.end());
    EXPECT_EQ(same, std::vector<WindowId>({first, second}));
    dialog->close();
}

TEST_F(AddProgramDialog, OnlyYesAppendsSavesAndClosesAndTheNextPassListsTheProgram) {
    data.UserP2PList = QStringList{entry("Alt", "alt")};
    const WindowId window = windows.window("Mule", "mule", true, "Mein Programm");
    open();
    for (const int answer : {IDNO, IDCANCEL}) {
        desktop.answer = answer;
        add("Mein Programm");
    }
    EXPECT_EQ(data.UserP2PList, QStringList({entry("Alt", "alt")}));
    EXPECT_FALSE(FileExists(data.My.UserP2PListFile));
    EXPECT_TRUE(dialog && dialog->isVisible());
    desktop.answer = IDYES;
    add("Mein Programm");

    ASSERT_EQ(desktop.messages.size(), 3u);
    EXPECT_EQ(desktop.messages[0].caption, "Hinzufügen");
    EXPECT_EQ(desktop.messages[0].text,
              "Soll das Programm\r\n\r\nName: Mein Programm\r\nClass : Mule\r\nhWdn: " +
                  QString::number(qint32(window)) +
                  "\r\n\r\nals P2P-Programm eingetragen werden ?\r\n");
    EXPECT_EQ(desktop.messages[0].style, MB_YESNOCANCEL | MB_ICONQUESTION);
    EXPECT_EQ(bytesOf(data.My.UserP2PListFile), bytes("Alt\0alt\r\nMein Programm\0Mule\r\n"));
    EXPECT_TRUE(debug.lines.last().endsWith("Writing User Tasklist..."));
    EXPECT_TRUE(waitUntil([this] { return dialog.isNull(); }));

    P2PDetector detector(data, *search);
    detector.Timer_CheckP2P();
    EXPECT_EQ(detector.LBp2p(), QStringList({"Mein Programm"}));
}

TEST_F(AddProgramDialog, RefusesANameAlreadyListedWhateverItsCaseButTakesABuiltInName) {
    data.UserP2PList = QStringList{entry("mein PROGRAMM", "other")};
    windows.window("Mule", "mule", true, "Mein Programm");
    windows.window("Overnet", "overnet", true, "Overnet");
    desktop.answer = IDYES;
    open();
    add("Mein Programm");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].caption, "Fehler");
    EXPECT_EQ(desktop.messages[0].text,
              "Das Programm 'Mein Programm' befindet sich bereits in deiner Liste !");
    EXPECT_EQ(desktop.messages[0].style, MB_ICONERROR);
    EXPECT_EQ(data.UserP2PList->size(), 1);

    add("Overnet");
    EXPECT_EQ(data.UserP2PList->last(), entry("Overnet", "Overnet"));
}

TEST_F(AddProgramDialog, AWindowClosedSinceTheListWasFilledIsReportedAndTheListRenewed) {
    const WindowId gone = windows.window("Weg", "weg", true, "Gleich weg");
    windows.window("Bleibt", "bleibt", true, "Bleibt");
    desktop.answer = IDYES;
    open();
    ASSERT_TRUE(lines().contains("Gleich weg"));
    windows.destroy(gone);
    add("Gleich weg");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].caption, "Fehler");
    EXPECT_EQ(desktop.messages[0].text,
              "'Gleich weg' wurde nicht gefunden (?\?\?)\r\nBitte ein anderes Programm wählen.");
    EXPECT_EQ(desktop.messages[0].style, MB_ICONERROR);
    EXPECT_EQ(lines(), QStringList({"Bleibt"}));
    windows.window("Neu", "neu", true, "Neu");
    dialog->findChild<QPushButton*>("BurRefresh")->click();
    EXPECT_EQ(lines(), QStringList({"Neu", "Bleibt"})) << "frontmost first";
    EXPECT_EQ(data.UserP2PList, QStringList());
    EXPECT_TRUE(dialog && dialog->isVisible());
    dialog->close();
}

TEST_F(AddProgramDialog, ACaptionWithLineBreaksStaysOneLineOfTheFile) {
    windows.window("Brk", "brk", true, "Zeile1\\r\\nZeile2\\n");
    desktop.answer = IDYES;
    open();
    add("Zeile1  Zeile2 ");
    EXPECT_EQ(bytesOf(data.My.UserP2PListFile), bytes("Zeile1  Zeile2 \0Brk\r\n"));
    EXPECT_EQ(LoadListFile(data.My.UserP2PListFile),
              QStringList({entry("Zeile1  Zeile2 ", "Brk")}));
}

TEST_F(AddProgramDialog, AStormOfWindowsLeavesTheProgramAndTheToolkitsConnectionUnharmed) {
    data.UserP2PList = QStringList{entry("Sturm", "Storm"), entry("Danach", "After")};
    P2PDetector detector(data, *search);
    desktop.answer = IDNO;
    open();
    const QtMessageHandler previous = qInstallMessageHandler(recordXcbErrors);
    windows.startStorm();
    QElapsedTimer elapsed;
    elapsed.start();
    int passes = 0;
    while (elapsed.elapsed() < 1500) {
        detector.Timer_CheckP2P();
        dialog->RefreshWindowList();
        // Asking about a storm window that is most likely gone already.
        if (list()->count() > 0) {
            list()->setCurrentRow(list()->count() - 1);
            dialog->mnuAdd_Click();
        }
        QCoreApplication::processEvents();
        ++passes;
    }
    EXPECT_GT(windows.stopStorm(), 0u);
    EXPECT_GT(passes, 10);

    windows.window("After", "after", true, "Danach");
    detector.Timer_CheckP2P();
    EXPECT_EQ(detector.LBp2p(), QStringList({"Danach"}));
    dialog->RefreshWindowList();
    EXPECT_EQ(lines(), QStringList({"Danach"}));
    qInstallMessageHandler(previous);
    EXPECT_EQ(xcbErrors, QStringList());
    dialog->close();
}

TEST_F(AddProgramDialog, MainWindowShowsTheRunningProgramsAndOpensTheDialog) {
    const WindowId overnet = windows.window("Overnet", "overnet", false, "");
    ProgramRig rig;
    Program& program = rig.start();
    auto* label = rig.control<QLabel>("LabelP2P");
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "P2P: Overnet") << "listed by the first pass, before the timer";
    EXPECT_TRUE(program.Timer_CheckP2P().isActive());

    windows.destroy(overnet);
    EXPECT_TRUE(waitUntil([label] { return label->text() == "P2P: keine laufenden Programme"; }));

    rig.control<QPushButton>("ButP2P")->click();
    auto* opened = program.window().findChild<FrmP2Pnew*>("frmP2Pnew");
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->isVisible());
    EXPECT_EQ(opened->windowTitle(), "Neues P2P-Programm");
    rig.control<QPushButton>("ButP2P")->click();
    EXPECT_EQ(program.window().findChildren<FrmP2Pnew*>().size(), 1) << "one dialog at a time";
    program.Close(vbFormCode);
    EXPECT_TRUE(waitUntil([&] { return program.window().findChild<FrmP2Pnew*>() == nullptr; }));
}
