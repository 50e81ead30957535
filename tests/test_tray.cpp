// The tray on a real notification area: trayer on the suite's own Xvfb, clicked with xdotool.

#include "tests/program_rig.h"
#include "tests/support/xserver.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

using namespace kw;
using namespace kw::apptest;

namespace {

struct TrayTest : test::XSuite {
    static void SetUpTestSuite() { startSuite(Toolkit::OnDisplayWithTray); }

    // Real clicks on the icon, once trayer at the bottom edge has embedded it: two make a
    // double click.
    void clickIcon(Tray& tray, int clicks) {
        const int bottom = QGuiApplication::primaryScreen()->geometry().bottom();
        ASSERT_TRUE(waitUntil([&] { return tray.icon().geometry().bottom() >= bottom - 2; }));
        // Clicks of separate steps must not make a double click together.
        waitUntil([this] { return m_sinceClicks.elapsed() > 600; }, 1000);
        const QPoint at = tray.icon().geometry().center();
        QProcess::execute("xdotool",
                          {"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                           "--repeat", QString::number(clicks), "--delay", "60", "1"});
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
