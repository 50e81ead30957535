// The add-program dialog and the main window's view of the detected programs, on a real X server:
// the toolkit runs on the suite's own Xvfb, another client makes the other programs' windows.

#include "core/files.h"
#include "p2p/detector.h"
#include "platform/x11/x11windowsearch.h"
#include "tests/program_rig.h"
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

QStringList xcbErrors;

void recordXcbErrors(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (message.contains(QLatin1String("XCB error")))
        xcbErrors.append(message);
}

class AddProgramDialog : public test::XSuite {
protected:
    static void SetUpTestSuite() { startSuite(Toolkit::OnDisplay); }

    void SetUp() override {
        XSuite::SetUp();
        if (IsSkipped())
            return;
        search = CreateX11WindowSearch(display(), {});
        ASSERT_TRUE(search);
        data.My.UserP2PListFile = dir.filePath("Kopierwart.Tasklst");
        data.UserP2PList = QStringList{};
        desktop.answer = IDYES;
    }

    void open() {
        dialog = new FrmP2Pnew(data, log, desktop, *search);
        dialog->show();
    }
    QListWidget* list() const { return dialog->findChild<QListWidget*>("LBtask"); }
    QStringList lines() const { return test::itemTexts(list()); }
    // Chooses the line as the pointer does, then the menu's "Programm hinzufügen".
    void add(const QString& caption) {
        const int row = int(lines().indexOf(caption));
        ASSERT_GE(row, 0) << caption.toStdString();
        list()->setCurrentRow(row);
        dialog->mnuAdd_Click();
    }
    QByteArray stored() const { return bytesOf(data.My.UserP2PListFile); }

    std::unique_ptr<WindowSearch> search;
    QTemporaryDir dir;
    AppData data;
    EventLog log;
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
    windows.framed("Framed", "Im Rahmen");

    open();
    QStringList shown = lines();
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, QStringList({"Gleich", "Gleich", "Grüße – 日本", "Im Rahmen", "Übersicht"}));
    // Each line of one caption stands for its own window.
    std::vector<WindowId> same;
    for (int row : {int(lines().indexOf("Gleich")), int(lines().lastIndexOf("Gleich"))})
        same.push_back(list()->item(row)->data(Qt::UserRole).value<WindowId>());
    std::sort(same.begin(), same.end());
    EXPECT_EQ(same, std::vector<WindowId>({first, second}));
    dialog->close();
}

TEST_F(AddProgramDialog, OnlyYesAppendsSavesAndClosesAndTheNextPassListsTheProgram) {
    data.UserP2PList = QStringList{entry("Alt", "alt")};
    windows.window("Mule", "mule", true, "Mein Programm");
    open();
    for (const int answer : {IDNO, IDCANCEL, IDYES}) {
        EXPECT_EQ(data.UserP2PList, QStringList({entry("Alt", "alt")}));
        EXPECT_EQ(stored(), "");
        EXPECT_TRUE(dialog && dialog->isVisible());
        desktop.answer = answer;
        add("Mein Programm");
        EXPECT_TRUE(desktop.messages.back().text.contains("Class : Mule"));
    }
    EXPECT_EQ(stored(), QByteArrayLiteral("Alt\0alt\r\nMein Programm\0Mule\r\n"));
    EXPECT_TRUE(waitUntil([this] { return dialog.isNull(); }));

    P2PDetector detector(data, *search);
    detector.Timer_CheckP2P();
    EXPECT_EQ(detector.LBp2p(), QStringList({"Mein Programm"}));
}

TEST_F(AddProgramDialog, RefusesANameAlreadyListedWhateverItsCaseButTakesABuiltInName) {
    data.UserP2PList = QStringList{entry("mein PROGRAMM", "other")};
    windows.window("Mule", "mule", true, "Mein Programm");
    windows.window("Overnet", "overnet", true, "Overnet");
    open();
    add("Mein Programm");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].caption, "Fehler");
    EXPECT_EQ(data.UserP2PList->size(), 1);

    add("Overnet");
    EXPECT_EQ(data.UserP2PList->last(), entry("Overnet", "Overnet"));
}

TEST_F(AddProgramDialog, AWindowClosedSinceTheListWasFilledIsReportedAndTheListRenewed) {
    const WindowId gone = windows.window("Weg", "weg", true, "Gleich weg");
    windows.window("Bleibt", "bleibt", true, "Bleibt");
    open();
    ASSERT_TRUE(lines().contains("Gleich weg"));
    windows.destroy(gone);
    add("Gleich weg");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(desktop.messages[0].text.contains("wurde nicht gefunden"));
    EXPECT_EQ(lines(), QStringList({"Bleibt"}));
    windows.window("Neu", "neu", true, "Neu");
    dialog->findChild<QPushButton*>("BurRefresh")->click();
    EXPECT_EQ(lines(), QStringList({"Neu", "Bleibt"})) << "frontmost first";
    EXPECT_EQ(data.UserP2PList, QStringList());
    EXPECT_TRUE(dialog && dialog->isVisible());
    dialog->close();
}

TEST_F(AddProgramDialog, ACaptionWithLineBreaksStaysOneLineOfTheFile) {
    windows.window("Brk", "brk", true, "Zeile1\r\nZeile2\n");
    open();
    add("Zeile1  Zeile2 ");
    EXPECT_EQ(stored(), QByteArrayLiteral("Zeile1  Zeile2 \0Brk\r\n"));
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
    for (; elapsed.elapsed() < 1500; ++passes) {
        detector.Timer_CheckP2P();
        dialog->RefreshWindowList();
        // Asking about a storm window that is most likely gone already.
        if (list()->count() > 0) {
            list()->setCurrentRow(list()->count() - 1);
            dialog->mnuAdd_Click();
        }
        QCoreApplication::processEvents();
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
    EXPECT_EQ(label->text(), "P2P: Overnet") << "listed by the first pass, before the timer";
    windows.destroy(overnet);
    EXPECT_TRUE(waitUntil([label] { return label->text() == "P2P: keine laufenden Programme"; }));

    // One dialog at a time; shutting down with it open skips it once it is gone.
    for (int click = 0; click < 2; ++click)
        rig.control<QPushButton>("ButP2P")->click();
    ASSERT_EQ(program.window().findChildren<FrmP2Pnew*>().size(), 1);
    EXPECT_TRUE(program.window().findChild<FrmP2Pnew*>()->isVisible());
    program.Close(vbFormCode);
    EXPECT_TRUE(waitUntil([&] { return program.window().findChild<FrmP2Pnew*>() == nullptr; }));
}
