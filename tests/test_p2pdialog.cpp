// The add-program dialog and the main window's view of the detected programs, on a real X server:
// the toolkit runs on the suite's own Xvfb, another client makes the other programs' windows.

#include "p2p/detector.h"
#include "platform/none/nowindowsearch.h"
#include "platform/x11/x11windowsearch.h"
#include "tests/program_rig.h"
#include "tests/support/writers.h"
#include "tests/support/xserver.h"
#include "ui/frmp2pnew.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPointer>

using namespace kw;
using namespace kw::apptest;

namespace {

QStringList xcbErrors;

struct AddProgramDialog : test::XSuite {
    static void SetUpTestSuite() { startSuite(Toolkit::OnDisplay); }
    void SetUp() override {
        XSuite::SetUp();
        data.My.UserP2PListFile = dir.filePath("Kopierwart.Tasklst");
        data.UserP2PList = QStringList{};
    }

    void open() { (dialog = new FrmP2Pnew(data, log, desktop, *search))->show(); }
    QStringList lines() const { return itemTexts(dialog->findChild<QListWidget*>("LBtask")); }
    // Chooses the line as the pointer does, then the menu's "Programm hinzufügen".
    void add(const QString& caption) {
        dialog->findChild<QListWidget*>("LBtask")->setCurrentRow(int(lines().indexOf(caption)));
        dialog->mnuAdd_Click();
    }

    QTemporaryDir dir;
    std::unique_ptr<WindowSearch> search = CreateX11WindowSearch(display(), {});
    AppData data;
    EventLog log;
    RecordingDesktop desktop;
    QPointer<FrmP2Pnew> dialog;
};

}  // namespace

TEST_F(AddProgramDialog, ListsOtherProgramsWindowsAndOnlyYesAppendsOneStillThereAsOneLine) {
    QWidget own;
    own.setWindowTitle("Eigenes Fenster");
    own.show();
    windows.window("Mule", "mule", true, "Mein\r\nProgramm\n");
    const WindowId gone = windows.window("Alt", "alt", true, "", "Übersicht");
    open();
    EXPECT_EQ(lines(), QStringList({"Übersicht", "Mein  Programm "}));  // frontmost first
    // A window closed since the list was filled is reported and the list renewed.
    windows.destroy(gone);
    desktop.answer = IDYES;
    add("Übersicht");
    EXPECT_TRUE(desktop.messages.back().text.contains("wurde nicht gefunden"));
    EXPECT_EQ(lines(), QStringList({"Mein  Programm "}));
    for (const int answer : {IDNO, IDCANCEL, IDYES}) {
        EXPECT_EQ(bytesOf(data.My.UserP2PListFile), "");
        desktop.answer = answer;
        add("Mein  Programm ");
    }
    EXPECT_EQ(bytesOf(data.My.UserP2PListFile), QByteArrayLiteral("Mein  Programm \0Mule\r\n"));
    EXPECT_TRUE(waitUntil([this] { return dialog.isNull(); }));
    P2PDetector detector(data, *search);
    detector.Timer_CheckP2P();
    EXPECT_EQ(detector.LBp2p(), QStringList({"Mein  Programm "}));
}

TEST_F(AddProgramDialog, AStormOfWindowsLeavesTheProgramAndTheToolkitsConnectionUnharmed) {
    data.UserP2PList = QStringList{QStringLiteral("Danach") + QChar(0) + "After"};
    P2PDetector detector(data, *search);
    open();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            if (message.contains(QLatin1String("XCB error")))
                xcbErrors.append(message);
        });
    windows.startStorm();
    QElapsedTimer elapsed;
    for (elapsed.start(); elapsed.elapsed() < 1500; QCoreApplication::processEvents()) {
        detector.Timer_CheckP2P();
        dialog->RefreshWindowList();
        add(lines().value(0));  // a storm window, most likely gone already; the answer is no
    }
    EXPECT_GT(windows.stopStorm(), 0u);
    windows.window("After", "after", true, "Danach");
    detector.Timer_CheckP2P();
    EXPECT_EQ(detector.LBp2p(), QStringList({"Danach"}));
    qInstallMessageHandler(previous);
    EXPECT_EQ(xcbErrors, QStringList());
    dialog->close();
}

TEST_F(AddProgramDialog, WithoutADisplayListsTheUsersProgramsAndStoresTheChosenExecutableName) {
    search = CreateNoWindowSearch("no display", {});
    test::NamedProgram program(dir.path(), "eseltauschprogramm");
    ASSERT_TRUE(program.waitRunning());
    open();
    const QString line = "eseltauschprogramm (" + program.path + ")";
    EXPECT_TRUE(lines().contains(line));
    // The program itself is not offered.
    EXPECT_FALSE(lines().join('\n').contains(QCoreApplication::applicationFilePath()));
    desktop.answer = IDYES;
    add(line);
    EXPECT_EQ(bytesOf(data.My.UserP2PListFile),
              QByteArrayLiteral("eseltauschprogramm\0eseltauschprogramm\r\n"));
    EXPECT_TRUE(waitUntil([this] { return dialog.isNull(); }));
    P2PDetector detector(data, *search);
    detector.Timer_CheckP2P();
    EXPECT_EQ(detector.LBp2p(), QStringList({"eseltauschprogramm"}));
}

TEST_F(AddProgramDialog, MainWindowShowsTheRunningProgramsFromItsFirstPass) {
    windows.window("Overnet", "overnet", false, "");
    ProgramRig rig;
    rig.start();
    EXPECT_EQ(rig.control<QLabel>("LabelP2P")->text(), "P2P: Overnet");
}
