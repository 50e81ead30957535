// The tray on a real notification area: trayer on the suite's own Xvfb, clicked with xdotool.

#include "tests/program_rig.h"
#include "tests/support/xserver.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

using namespace kw;
using namespace kw::apptest;

namespace {

struct TrayTest : test::XSuite {
    static void SetUpTestSuite() { startSuite(Toolkit::OnDisplayWithTray); }

    // A real double click on the icon, once trayer at the bottom edge has embedded it.
    static void doubleClickIcon(Tray& tray) {
        const int bottom = QGuiApplication::primaryScreen()->geometry().bottom();
        ASSERT_TRUE(waitUntil([&] { return tray.icon().geometry().bottom() >= bottom - 2; }));
        const QPoint at = tray.icon().geometry().center();
        QProcess::execute("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()),
                                      "click", "--repeat", "2", "--delay", "60", "1"});
    }
};

}  // namespace

TEST_F(TrayTest, IconShowsAndHidesTheWindowAndItsMenuEndsTheProgramOnce) {
    ProgramRig rig;
    Program& program = rig.start();
    for (const bool shown : {true, false}) {
        doubleClickIcon(program.tray());
        ASSERT_TRUE(waitUntil([&] { return program.window().isVisible() == shown; }));
    }
    program.tray().mnuTray().findChild<QAction*>("mnuSClose")->trigger();
    // Whatever arrives afterwards finds the shutdown done.
    program.Close(vbAppTaskManager);
    EXPECT_TRUE(waitUntil([&] { return rig.ended != 0; }));
    EXPECT_EQ(rig.ended, 1);
}
