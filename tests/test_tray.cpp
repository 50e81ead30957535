// The tray on a real notification area: trayer on the suite's own Xvfb, clicked with xdotool.

#include "tests/program_rig.h"
#include "tests/support/xserver.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

using namespace kw;
using namespace kw::apptest;

namespace {

class TrayTest : public test::XSuite {
protected:
    static void SetUpTestSuite() {
        startSuite(Toolkit::OnDisplayWithTray);
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            s_whyNot = "needs xdotool";
    }

    // A real click on the icon in the notification area.
    static void clickIcon(Tray& tray, int button, int repeat) {
        // trayer sits at the bottom edge; the icon is there once it has been embedded.
        const int screenBottom = QGuiApplication::primaryScreen()->geometry().bottom();
        ASSERT_TRUE(waitUntil([&] { return tray.icon().geometry().bottom() >= screenBottom - 2; }));
        const QPoint centre = tray.icon().geometry().center();
        QProcess xdotool;
        xdotool.start(
            "xdotool",
            {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click",
             "--repeat", QString::number(repeat), "--delay", "60", QString::number(button)});
        waitUntil([&] { return xdotool.state() == QProcess::NotRunning; });
    }
};

}  // namespace

TEST_F(TrayTest, IconAppearsAndTheWindowShowsAndHidesFromIt) {
    ProgramRig rig;
    Program& program = rig.start();
    FrmMain& window = program.window();
    EXPECT_TRUE(program.tray().icon().isVisible());
    ASSERT_TRUE(waitUntil([&] { return !window.isVisible(); }));

    for (const bool shown : {true, false}) {
        clickIcon(program.tray(), 1, 2);
        ASSERT_TRUE(waitUntil([&] { return window.isVisible() == shown; }));
        EXPECT_EQ(window.isMinimized(), !shown);
    }
    // Minimising the shown window hides it into the tray as well.
    window.showNormal();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible(); }));
    window.showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
}
