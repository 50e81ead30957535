// The program on real desktops: Xvfb with trayer (XEmbed), clicks by xdotool and other clients'
// windows; sway headless with waybar and mako as an ordinary user on a bus of its own.

#include "core/files.h"
#include "p2p/detector.h"
#include "platform/none/nowindowsearch.h"
#include "platform/x11/x11windowsearch.h"
#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/teardown.h"
#include "tests/support/wayland.h"
#include "tests/support/xserver.h"
#include "ui/frmp2pnew.h"
#include "ui/problemnotifier.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>

using namespace kw;
using namespace kw::apptest;

namespace {

struct TrayTest : test::XSuite {
    // Once trayer has embedded the icon; separate calls never make one double click.
    void clickIcon(Tray& tray, int clicks, int button = 1) {
        const int bottom = QGuiApplication::primaryScreen()->geometry().bottom();
        ASSERT_TRUE(waitUntil([&] { return tray.icon().geometry().bottom() >= bottom - 2; }));
        waitUntil([this] { return m_sinceClicks.elapsed() > 600; }, 1000);
        clickAt(tray.icon().geometry().center(), clicks, button);
    }
    void clickAt(QPoint at, int clicks = 1, int button = 1) {
        QProcess::execute("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()),
                                      "click", "--repeat", QString::number(clicks), "--delay", "60",
                                      QString::number(button)});
        m_sinceClicks.start();
    }
    QElapsedTimer m_sinceClicks;
};

}  // namespace

TEST_F(TrayTest, IconShowsAndHidesTheWindowAndItsMenuEndsTheProgramOnce) {
    ProgramRig rig;
    Program& program = rig.start();
    m_sinceClicks.start();
    // The first double click after start-up opens the window, and toggles it only once.
    for (const auto& [clicks, shown] : {std::pair{2, true}, {1, false}, {1, true}, {2, false}}) {
        clickIcon(program.tray(), clicks);
        ASSERT_TRUE(waitUntil([&] {
            return (program.window().isVisible() && !program.window().isMinimized()) == shown;
        })) << clicks
            << " clicks do not leave the window " << (shown ? "shown" : "hidden");
        // A second toggle would follow at once: give it the time to show.
        QCoreApplication::processEvents();
        EXPECT_EQ(program.window().isVisible() && !program.window().isMinimized(), shown);
    }
    program.tray().mnuTray().findChild<QAction*>("mnuSClose")->trigger();
    program.Close(vbAppTaskManager);  // finds the shutdown done
    EXPECT_TRUE(waitUntil([&] { return rig.ended != 0; }));
    EXPECT_EQ(rig.ended, 1);
}

// A second start during start-up: the window comes out once the start-up has put it in the tray,
// and shows the P2P programs of its first pass.
TEST_F(TrayTest, AWishToSeeTheWindowDuringStartUpIsKeptForItsEndAndItShowsTheRunningPrograms) {
    windows.window("Overnet", "overnet", false, "");
    ProgramRig rig;
    Program& program = rig.start(false, [&] { rig.program->showMainWindow(); });
    ASSERT_TRUE(program.started());
    EXPECT_TRUE(program.window().isVisible() && !program.window().isMinimized());
    EXPECT_EQ(rig.control<QLabel>("LabelP2P")->text(), "P2P: Overnet");
}

// The file work waiting for the user's answer is no hang, and "Beenden" still ends the program.
TEST_F(TrayTest, AMessageTheFileWorkWaitsForIsNoHangAndBeendenStillEndsTheProgram) {
    FoldersRig rig;
    Program& program = rig.start(true);
    ASSERT_TRUE(program.started());
    // The watched folder cannot be made again: a file stands in its place.
    const QString blocked = test::withoutTrailingSlash(rig.source);
    ASSERT_EQ(::rmdir(encodeLocal(blocked).constData()), 0);
    ASSERT_EQ(fs::replaceAtomically(blocked, "in the way"), 0);
    // A box in a loop of its own would hold up this test.
    QTimer::singleShot(30'000, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window))
                box->reject();
    });
    ASSERT_TRUE(waitUntil([] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(window) && window->isVisible())
                return true;
        return false;
    }));
    waitUntil([] { return false; }, 8000);  // longer than a file system may take to answer
    EXPECT_TRUE(logLines(rig.log()).filter("No answer from the file system").isEmpty());
    for (const Problem& problem : program.problems().problems())
        EXPECT_NE(problem.kind, ProblemKind::DestinationNotAnswering);

    m_sinceClicks.start();
    clickIcon(program.tray(), 1, 3);
    QMenu& menu = program.tray().mnuTray();
    ASSERT_TRUE(waitUntil([&] { return menu.isVisible(); }, 5000)) << "the tray menu is blocked";
    clickAt(menu.mapToGlobal(menu.actionGeometry(menu.findChild<QAction*>("mnuSClose")).center()));
    EXPECT_TRUE(waitUntil([&] { return rig.ended != 0; }, 1000));
    EXPECT_TRUE(logLines(rig.log()).filter("left behind").isEmpty());
}

// In a folder whose name is not UTF-8 (data and lock beside the program, under its bytes): a
// second start shows the first one's window, as another X client sees it, and touches no file; a
// killed holder's lock never blocks the next start.
TEST_F(TrayTest, ASecondStartShowsTheRunningWindowTouchesNoFileAndAKilledLockNeverBlocks) {
    QTemporaryDir dir;
    const auto removeAll = qScopeGuard([&dir] { QProcess::execute("rm", {"-rf", dir.path()}); });
    const QByteArray folderBytes = encodeLocal(dir.path()) + "/Pr\xF6gramme/";
    ASSERT_EQ(fs::makePath(decodeLocal(folderBytes)), 0);
    const ProgramCopy program(decodeLocal(folderBytes));
    QProcess first, second, third;
    program.start(first);
    ASSERT_TRUE(program.waitStarted());
    EXPECT_TRUE(bytesOf(program.log()).contains(" -> " + folderBytes + "Kopierwart\r\n"));
    EXPECT_TRUE(fs::facts(program.ini()) && fs::facts(program.folder + "Kopierwart.lock"));
    const auto search = CreateX11WindowSearch(display(), {});
    ASSERT_TRUE(search);
    WindowId window = 0;
    ASSERT_TRUE(waitUntil([&] {
        for (const TopWindow& top : search->ListTopWindows())
            if (search->GetWindowCaption(top.id) == "Kopierwart " KW_PROJECT_VERSION)
                window = top.id;
        return window && !search->IsWindowVisible(window);
    })) << "the first start does not end in the tray";
    const QStringList before = folderSnapshot(program.folder, true);
    program.start(second);
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return search->IsWindowVisible(window); }));
    EXPECT_EQ(folderSnapshot(program.folder, true), before);
    first.kill();
    ASSERT_TRUE(first.waitForFinished(10000));
    program.start(third);
    EXPECT_TRUE(program.waitStarted(2));
    third.terminate();
    EXPECT_TRUE(third.waitForFinished(10000));
}

namespace {

QString entry(const QString& name, const QString& windowClass) {
    return name + QChar(0) + windowClass;
}

// The add-program dialog and the detector over the windows of other clients.
struct Detection : test::XSuite {
    Detection() {
        data.My.UserP2PListFile = dir.filePath("Kopierwart.Tasklst");
        data.UserP2PList = QStringList{};
    }
    void open() { (dialog = new FrmP2Pnew(data, log, desktop, *search))->show(); }
    // The lines but trayer's.
    QStringList lines() const {
        QStringList texts = itemTexts(dialog->findChild<QListWidget*>("LBtask"));
        texts.removeAll("panel");
        return texts;
    }
    // Chooses the line as the pointer does, then the menu's "Programm hinzufügen".
    void add(const QString& caption) {
        auto* list = dialog->findChild<QListWidget*>("LBtask");
        list->setCurrentItem(list->findItems(caption, Qt::MatchExactly).value(0));
        dialog->mnuAdd_Click();
    }
    QStringList detected() {
        P2PDetector detector(data, *search);
        detector.Timer_CheckP2P();
        return detector.LBp2p();
    }

    QTemporaryDir dir;
    std::unique_ptr<WindowSearch> search = CreateX11WindowSearch(display(), {});
    AppData data;
    EventLog log;
    RecordingDesktop desktop;
    QPointer<FrmP2Pnew> dialog;
};

QStringList xcbErrors;

}  // namespace

TEST_F(Detection, ListsEachProgramWhileAWindowOfItsClassExistsInAlphabeticalOrder) {
    // A line without separator is no entry: with an empty class it would match any window.
    static const char list[] =
        "Zeta Tausch\0ZetaClass\r\nLose Zeile\r\nalpha Tausch\0alpha\r\nGerahmt\0Framed\r\n";
    fs::append(dir.filePath("list"), QByteArray(list, sizeof list - 1));
    data.UserP2PList = LoadListFile(dir.filePath("list"));
    P2PDetector detector(data, *search);
    QSignalSpy changed(&detector, &P2PDetector::LBp2pChanged);
    const auto pass = [&detector] {
        detector.Timer_CheckP2P();
        return detector.LBp2p();
    };
    // Class and instance names count, without regard to case; hidden windows too, and a client
    // inside a window manager's frame.
    const WindowId overnet = windows.window("OVERNET", "main", true, "Overnet 0.5");
    windows.window("Anything", "qwidget", false, "");
    windows.window("ZetaClass", "zeta", true, "Zeta");
    windows.window("Lose Zeile", "lose", true, "");
    windows.window("Alpha", "alpha", true, "Alpha");
    windows.framed("Framed", "Im Rahmen");
    const QStringList all{"alpha Tausch", "eDonkey 2000 >= v1.0", "Gerahmt", "Overnet",
                          "Zeta Tausch"};
    EXPECT_EQ(pass(), all);
    EXPECT_EQ(pass(), all);
    EXPECT_EQ(changed.count(), 1);  // a pass that changes nothing tells nobody
    windows.destroy(overnet);
    EXPECT_EQ(pass(),
              QStringList({"alpha Tausch", "eDonkey 2000 >= v1.0", "Gerahmt", "Zeta Tausch"}));
}

// By its executable name too (longer than the kernel's short name, any letter case), with and
// without a display, started after the first look; without a display the dialog lists it.
TEST_F(Detection, FindsAUsersProgramByItsExecutableNameWithAndWithoutADisplay) {
    AppData esel = data;
    esel.UserP2PList = QStringList{entry("Esel", "EselTauschProgramm")};
    const auto none = CreateNoWindowSearch("no display", {});
    P2PDetector withoutDisplay(esel, *none), withDisplay(esel, *search);
    const auto found = [&](const QStringList& expected) {
        return waitUntil([&] {
            for (P2PDetector* detector : {&withoutDisplay, &withDisplay})
                detector->Timer_CheckP2P();
            return withoutDisplay.LBp2p() == expected && withDisplay.LBp2p() == expected;
        });
    };
    ASSERT_TRUE(found({}));
    const QString path = dir.filePath("eseltauschprogramm");  // a sleep of that name
    QFile::copy("/bin/sleep", path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
    const auto program = test::launched({{path, "600"}});
    EXPECT_TRUE(found({"Esel"}));
    (dialog = new FrmP2Pnew(data, log, desktop, *none))->show();
    const QString line = "eseltauschprogramm (" + path + ")";
    ASSERT_TRUE(lines().contains(line));
    EXPECT_FALSE(lines().join('\n').contains(QCoreApplication::applicationFilePath()));
    desktop.answer = IDYES;
    add(line);
    EXPECT_EQ(bytesOf(data.My.UserP2PListFile),
              QByteArrayLiteral("eseltauschprogramm\0eseltauschprogramm\r\n"));
    EXPECT_TRUE(waitUntil([this] { return dialog.isNull(); }));
    EXPECT_EQ(detected(), QStringList({"eseltauschprogramm"}));
    program->kill();
    program->waitForFinished();
    EXPECT_TRUE(found({}));
}

TEST_F(Detection, NoUnreachableOrLostDisplayEndsAnythingAndEachIsLoggedOnce) {
    QStringList logged;
    const auto log = [&logged](const QString& line) { logged.append(line); };
    data.UserP2PList = QStringList{entry("Alles", "")};
    const QByteArray ours = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    const auto none = CreateWindowSearch(log);
    qputenv("DISPLAY", ":4095");
    const auto unreachable = CreateWindowSearch(log);
    qputenv("DISPLAY", ours);
    auto xvfb = std::make_unique<test::XvfbServer>();
    if (const QString whyNot = xvfb->start(); !whyNot.isEmpty())
        KW_CANNOT_RUN(whyNot.toStdString());
    const auto lost = CreateX11WindowSearch(xvfb->display, log);
    ASSERT_TRUE(lost);
    xvfb.reset();  // the display goes away under the running search
    for (WindowSearch* each : {none.get(), unreachable.get(), lost.get()}) {
        P2PDetector detector(data, *each);
        detector.Timer_CheckP2P();
        detector.Timer_CheckP2P();
        EXPECT_TRUE(detector.LBp2p().isEmpty());
    }
    // Without DISPLAY on an X11 desktop the display is '' and cannot be opened either.
    QStringList expected;
    for (const QString cause : {"cannot open the X display ''", "cannot open the X display ':4095'",
                                "lost the X display"})
        expected << "P2P detection: " + cause + ", windows are not searched, processes are";
    EXPECT_EQ(logged, expected);
}

TEST_F(Detection, TheDialogListsOtherProgramsWindowsAndOnlyYesAppendsOneStillThereAsOneLine) {
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
    EXPECT_EQ(detected(), QStringList({"Mein  Programm "}));
}

TEST_F(Detection, AStormOfWindowsLeavesTheProgramAndTheToolkitsConnectionUnharmed) {
    data.UserP2PList = QStringList{entry("Danach", "After")};
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

namespace {

const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");

// Strings of a gdbus reply: 'text' with its escapes undone.
QStringList quotedTexts(const QByteArray& reply) {
    static const QRegularExpression quoted(QStringLiteral("'((?:[^'\\\\]|\\\\.)*)'"));
    QStringList texts;
    for (const auto& match : quoted.globalMatch(QString::fromUtf8(reply)))
        texts.append(match.captured(1).replace(QLatin1String("\\n"), QLatin1String("\n")));
    return texts;
}

}  // namespace

// The program as the session's user on sway with waybar and mako, its destination a small tmpfs:
// activation toggles the window, the notification area shows the exported menu; a full
// destination is notified once, and once when space is freed, a burst of moves not at all.
TEST(Wayland, TheTrayItemTogglesTheWindowNotifiesProblemsOnceAndItsMenuEndsTheProgram) {
    ensureApplication();
    QTemporaryDir dir;
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther);
    test::WaylandDesktop desktop;
    if (const QString why = desktop.start(dir.path() + "/session"); !why.isEmpty())
        KW_CANNOT_RUN(why.toStdString());
    const QString source = folderIn(dir, "upload"), staging = folderIn(dir, "staging");
    const QString destination = folderIn(dir, "stick");
    QString why;
    const auto stick = test::ScratchFileSystem::make(test::ScratchFileSystem::Type::Tmpfs,
                                                     destination, 1 << 20, &why);
    if (!stick)
        KW_CANNOT_RUN(why.toStdString());
    QProcess& monitor = desktop.launch(
        {"dbus-monitor", "--session",
         "type='method_call',interface='org.freedesktop.Notifications',member='Notify'"});
    QByteArray sent;
    const auto notified = [&] {
        return int((sent += monitor.readAllStandardOutput()).count("member=Notify"));
    };
    // Watching once the bus says so (the NameLost of becoming a monitor).
    ASSERT_TRUE(waitUntil([&] { return notified() == 0 && !sent.isEmpty(); }));
    const auto makoShows = [&](const char* text) {
        return desktop.run({"makoctl", "list"}).contains(text);
    };
    const auto arrive = [&](const QStringList& names, qint64 size) {
        for (const QString& name : names)
            test::makeFile(staging + name, QByteArray(size, 'k'));  // no holes: it takes room
        desktop.give(staging);
        for (const QString& name : names)
            ASSERT_TRUE(QFile::rename(staging + name, source + name));
    };
    const ProgramCopy copy(folderIn(dir, "program"));
    for (const auto& [key, value] :
         {std::pair{"Source", source}, {"Destination", destination}, {"Intervall", "1"}})
        copy.setting(key, value);
    desktop.give(dir.path());
    QProcess& program = desktop.launch({"./Kopierwart"}, copy.folder);
    // Waybar and mako are no windows of sway's tree: any window of that process is the program's.
    const QRegularExpression ofProgram(QStringLiteral("\"pid\": *%1\\b").arg(program.processId()));
    const auto windowShown = [&] {
        return QString::fromUtf8(desktop.run({"swaymsg", "-t", "get_tree"})).contains(ofProgram);
    };
    // The program's item is the only one on this bus.
    QString item;
    ASSERT_TRUE(waitUntil([&] {
        item = quotedTexts(
                   desktop.call("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                "org.freedesktop.DBus.Properties.Get",
                                {"org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"}))
                   .value(0);
        return !item.isEmpty();
    })) << "no StatusNotifierItem registered";
    const QString service = item.left(item.indexOf(QLatin1Char('/')));
    item = item.contains(QLatin1Char('/')) ? item.mid(service.size()) : "/StatusNotifierItem";
    const auto itemCall = [&](const QString& method, const QStringList& arguments) {
        return desktop.call(service, item, method, arguments);
    };
    const auto toolTip = [&] {
        return quotedTexts(itemCall("org.freedesktop.DBus.Properties.Get", {kItem, "ToolTip"}))
            .join(' ');
    };
    // The start-up goes on after the icon is there: it ends with the window in the tray.
    ASSERT_TRUE(copy.waitStarted());
    EXPECT_TRUE(waitUntil([&] { return !windowShown(); })) << "the window stayed on the desktop";
    for (const bool shown : {true, false}) {
        waitUntil([] { return false; }, 700);  // two activations closer are one double click
        itemCall(kItem + ".Activate", {"0", "0"});
        ASSERT_TRUE(waitUntil([&] { return windowShown() == shown; }))
            << "the window is not " << (shown ? "shown" : "hidden");
    }
    EXPECT_TRUE(
        itemCall("org.freedesktop.DBus.Properties.Get", {kItem, "Menu"}).contains("/MenuBar"));
    itemCall(kItem + ".ContextMenu", {"1013", "754"});
    waitUntil([] { return false; }, 1000);
    EXPECT_FALSE(windowShown()) << "the menu became a window";

    EXPECT_FALSE(toolTip().contains("Zielverzeichnis voll")) << toolTip().toStdString();
    arrive({"film.avi"}, 3 << 20);
    ASSERT_TRUE(waitUntil([&] { return toolTip().contains("Zielverzeichnis voll"); }));
    EXPECT_TRUE(toolTip().contains(source + "film.avi")) << toolTip().toStdString();
    ASSERT_TRUE(waitUntil([&] { return notified() == 1; }));
    EXPECT_TRUE(sent.contains("Sie bleibt im überwachten Verzeichnis"))  // as UTF-8
        << sent.toStdString();
    EXPECT_TRUE(waitUntil([&] { return makoShows("Zielverzeichnis voll"); }));
    ASSERT_EQ(runProgram("mount", {"-o", "remount,size=16m", destination}), "");
    ASSERT_TRUE(waitUntil([&] { return !toolTip().contains("Zielverzeichnis voll"); }));
    ASSERT_TRUE(waitUntil([&] { return notified() == 2; }));
    QStringList burst;
    for (int i = 0; i < 300; ++i)
        burst.append(QStringLiteral("%1.part").arg(i));
    arrive(burst, 100);
    EXPECT_TRUE(waitUntil([&] { return fs::regularFileNames(destination)->size() == 301; }, 30000));
    EXPECT_EQ(notified(), 2);
    EXPECT_TRUE(makoShows("Zielverzeichnis hat wieder Platz"));

    const QString layout = QString::fromUtf8(
        desktop.call(service, "/MenuBar", "com.canonical.dbusmenu.GetLayout", {"0", "-1", "[]"}));
    static const QRegularExpression menuItem(
        QStringLiteral("<\\((\\d+), \\{[^}]*'label': <'([^']*)'>"));
    QMap<QString, QString> idByLabel;
    for (const auto& match : menuItem.globalMatch(layout))
        idByLabel.insert(match.captured(2), match.captured(1));
    EXPECT_EQ(idByLabel.keys(), (QStringList{"Beenden", "Kopierwart", "Zeigen"}))
        << layout.toStdString();
    desktop.call(service, "/MenuBar", "com.canonical.dbusmenu.Event",
                 {idByLabel.value("Beenden"), "clicked", "<0>", "0"});
    ASSERT_TRUE(program.waitForFinished(10000)) << "the program did not end";
    const QStringList lines = logLines(copy.log());
    EXPECT_TRUE(lines.contains("Form_QueryUnload(UnloadMode = vbFormCode (1)"));
    EXPECT_TRUE(lines.contains("*** Closing Kopierwart ***"));
}
