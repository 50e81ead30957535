// The tray on a real notification area: trayer on the suite's own Xvfb, clicked with xdotool.

#include "tests/program_rig.h"
#include "tests/support/teardown.h"
#include "tests/support/xserver.h"
#include "ui/problemnotifier.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

using namespace kw;
using namespace kw::apptest;

namespace {

struct TrayTest : test::XSuite {
    static void SetUpTestSuite() { startSuite(Toolkit::OnDisplayWithTray); }

    // Real clicks on the icon, once trayer at the bottom edge has embedded it: two make a
    // double click.
    void clickIcon(Tray& tray, int clicks, int button = 1) {
        const int bottom = QGuiApplication::primaryScreen()->geometry().bottom();
        ASSERT_TRUE(waitUntil([&] { return tray.icon().geometry().bottom() >= bottom - 2; }));
        // Clicks of separate steps must not make a double click together.
        waitUntil([this] { return m_sinceClicks.elapsed() > 600; }, 1000);
        const QPoint at = tray.icon().geometry().center();
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
    // Whatever arrives afterwards finds the shutdown done.
    program.Close(vbAppTaskManager);
    EXPECT_TRUE(waitUntil([&] { return rig.ended != 0; }));
    EXPECT_EQ(rig.ended, 1);
}

// A second start while the first is still starting: its window comes out of the tray once the
// start-up has put it there, not before (where the start-up would hide it again).
TEST_F(TrayTest, AWishToSeeTheWindowDuringStartUpIsKeptForItsEnd) {
    ProgramRig rig;
    Program& program = rig.start(false, [&] { rig.program->showMainWindow(); });
    ASSERT_TRUE(program.started());
    EXPECT_TRUE(program.window().isVisible() && !program.window().isMinimized());
}

// The file work waits for the user to answer a message: that is no hang of a file system, and the
// tray menu's "Beenden" ends the program at once, the message answered "Abbrechen".
TEST_F(TrayTest, AMessageTheFileWorkWaitsForIsNoHangAndBeendenStillEndsTheProgram) {
    FoldersRig rig;
    Program& program = rig.start(true);
    ASSERT_TRUE(program.started());
    // The watched folder cannot be made again: a file stands in its place.
    const QString blocked = test::withoutTrailingSlash(rig.source);
    ASSERT_EQ(::rmdir(encodeLocal(blocked).constData()), 0);
    ASSERT_EQ(fs::replaceAtomically(blocked, "in the way"), 0);
    const auto openBox = [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(window) && window->isVisible())
                return true;
        }
        return false;
    };
    // A box shown in a loop of its own would hold up this test: it is answered after a while.
    QTimer::singleShot(30'000, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window))
                box->reject();
    });
    ASSERT_TRUE(waitUntil(openBox));
    waitUntil([] { return false; }, 10'000);  // twice the time after which a file system hangs
    EXPECT_TRUE(logLines(rig.log()).filter("No answer from the file system").isEmpty());
    for (const Problem& problem : program.problems().problems())
        EXPECT_NE(problem.kind, ProblemKind::DestinationNotAnswering);

    m_sinceClicks.start();
    clickIcon(program.tray(), 1, 3);
    QMenu& menu = program.tray().mnuTray();
    ASSERT_TRUE(waitUntil([&] { return menu.isVisible(); }, 5000)) << "the tray menu is blocked";
    const QPoint at =
        menu.mapToGlobal(menu.actionGeometry(menu.findChild<QAction*>("mnuSClose")).center());
    QProcess::execute(
        "xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    EXPECT_TRUE(waitUntil([&] { return rig.ended != 0; }, 1000));
    EXPECT_TRUE(logLines(rig.log()).filter("left behind").isEmpty());
}
