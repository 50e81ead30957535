// The tray needs a real notification area: the suite starts its own X server (Xvfb) with trayer
// as the notification area, and skips when a program it needs is missing.

#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <sys/prctl.h>
#include <csignal>

using namespace kw;
using namespace kw::apptest;

namespace {

class TrayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        if (xvfb.isEmpty() || trayer.isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty()) {
            s_skipReason = "needs Xvfb, trayer and xdotool";
            return;
        }
        // Xvfb picks a free display and names it on its output once it accepts clients.
        s_xvfb = startHelper(
            xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        // The number and its line end may arrive in separate reads.
        while (!s_xvfb->canReadLine() && s_xvfb->waitForReadyRead(15000)) {
        }
        if (!s_xvfb->canReadLine()) {
            s_skipReason = "Xvfb did not start";
            return;
        }
        qputenv("DISPLAY", ':' + s_xvfb->readLine().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
        ensureApplication();
        s_trayer = startHelper(trayer, {"--edge", "bottom", "--align", "right", "--height", "24"});
        if (!waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
            s_skipReason = "trayer did not become the notification area";
    }

    static void TearDownTestSuite() {
        // The application goes before its X server, or losing the connection would end us.
        delete QCoreApplication::instance();
        for (QProcess* process : {s_trayer, s_xvfb}) {
            if (!process)
                continue;
            process->terminate();
            process->waitForFinished(5000);
            delete process;
        }
        s_trayer = s_xvfb = nullptr;
    }

    void SetUp() override {
        if (!s_skipReason.isEmpty())
            KW_CANNOT_RUN(s_skipReason.toStdString());
    }

    // A helper server that must not outlive a test run killed before its tear-down.
    static QProcess* startHelper(const QString& program, const QStringList& arguments) {
        auto* process = new QProcess;
        process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process->start(program, arguments);
        return process;
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
    static inline QProcess* s_xvfb = nullptr;
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
