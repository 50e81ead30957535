// The tray needs a real notification area: the suite starts its own X server (Xvfb) with trayer
// as the notification area, and skips when a program it needs is missing.

#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/xserver.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>

using namespace kw;
using namespace kw::apptest;

namespace {

class TrayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        if (trayer.isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty()) {
            s_skipReason = "needs trayer and xdotool";
            return;
        }
        s_xvfb = new test::XvfbServer;
        s_skipReason = s_xvfb->start();
        if (!s_skipReason.isEmpty())
            return;
        qputenv("DISPLAY", s_xvfb->display());
        qputenv("QT_QPA_PLATFORM", "xcb");
        ensureApplication();
        s_trayer =
            test::startHelper(trayer, {"--edge", "bottom", "--align", "right", "--height", "24"})
                .release();
        if (!waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
            s_skipReason = "trayer did not become the notification area";
    }

    static void TearDownTestSuite() {
        // The application goes before its X server, or losing the connection would end us.
        delete QCoreApplication::instance();
        if (s_trayer) {
            s_trayer->terminate();
            s_trayer->waitForFinished(5000);
        }
        delete s_trayer;
        delete s_xvfb;
        s_trayer = nullptr;
        s_xvfb = nullptr;
    }

    void SetUp() override {
        if (!s_skipReason.isEmpty())
            KW_CANNOT_RUN(s_skipReason.toStdString());
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

    static inline QString s_skipReason;
    static inline test::XvfbServer* s_xvfb = nullptr;
    static inline QProcess* s_trayer = nullptr;
};

}  // namespace

TEST_F(TrayTest, IconAppearsAndTheWindowShowsAndHidesFromIt) {
    ProgramRig rig;
    Program& program = rig.start();
    FrmMain& window = program.window();
    EXPECT_TRUE(program.tray().icon().isVisible());
    EXPECT_EQ(program.tray().icon().toolTip(), "Kopierwart");
    ASSERT_TRUE(waitUntil([&] { return !window.isVisible(); }));
    EXPECT_TRUE(window.isMinimized());

    clickIcon(program.tray(), 1, 2);
    ASSERT_TRUE(waitUntil([&] { return window.isVisible(); }));
    EXPECT_FALSE(window.isMinimized());
    clickIcon(program.tray(), 1, 2);
    ASSERT_TRUE(waitUntil([&] { return !window.isVisible(); }));
    EXPECT_TRUE(window.isMinimized());

    // Minimising the shown window hides it into the tray as well.
    window.showNormal();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible(); }));
    window.showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !window.isVisible(); }));
}
