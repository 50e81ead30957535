// The tray needs a real notification area: each run starts its own X server (Xvfb) with trayer
// as the notification area, and skips when either program is missing.

#include "scan/engine.h"
#include "tests/program_rig.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

#include <sys/prctl.h>
#include <csignal>

using namespace kw;
using namespace kw::apptest;

namespace {

QString freeDisplay() {
    for (int number = 91; number < 200; ++number) {
        if (!fs::facts(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)) &&
            !fs::facts(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            return QStringLiteral(":%1").arg(number);
    }
    return {};
}

// A helper server must not outlive a test run that is killed before its tear-down.
void endWithThisProcess(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

class TrayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (xvfb.isEmpty() || trayer.isEmpty() || xdotool.isEmpty()) {
            s_skipReason = "needs Xvfb, trayer and xdotool";
            return;
        }
        s_display = freeDisplay();
        s_xvfb = new QProcess;
        endWithThisProcess(*s_xvfb);
        s_xvfb->start(xvfb, {s_display, QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                             QStringLiteral("tcp")});
        const QString socket = QStringLiteral("/tmp/.X11-unix/X") + s_display.mid(1);
        if (!waitForWithoutEvents([&] { return fs::facts(socket).has_value(); })) {
            s_skipReason = "Xvfb did not start";
            return;
        }
        qputenv("DISPLAY", s_display.toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        ensureApplication();

        s_trayer = new QProcess;
        endWithThisProcess(*s_trayer);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), s_display);
        s_trayer->setProcessEnvironment(environment);
        s_trayer->start(
            trayer, {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                     QStringLiteral("right"), QStringLiteral("--height"), QStringLiteral("24")});
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
            GTEST_SKIP() << s_skipReason.toStdString();
    }

    static bool waitForWithoutEvents(const std::function<bool()>& condition) {
        QDeadlineTimer deadline(15000);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(20);
        }
        return true;
    }

    // A real click on the icon in the notification area.
    static void clickIcon(Tray& tray, int button, int repeat) {
        // trayer sits at the bottom edge; the icon is there once it has been embedded.
        const int screenBottom = QGuiApplication::primaryScreen()->geometry().bottom();
        ASSERT_TRUE(waitUntil([&] { return tray.icon().geometry().bottom() >= screenBottom - 2; }));
        const QPoint centre = tray.icon().geometry().center();
        xdotool({QStringLiteral("mousemove"), QString::number(centre.x()),
                 QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("--repeat"),
                 QString::number(repeat), QStringLiteral("--delay"), QStringLiteral("60"),
                 QString::number(button)});
    }

    static void xdotool(const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), s_display);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("xdotool"), arguments);
        // The command may open a menu that runs its own event loop; keep events flowing.
        waitUntil([&] { return process.state() == QProcess::NotRunning; });
    }

    // Runs inspect on the tray menu once it is open and the click that opened it is over, then
    // presses key as a user would (Escape closes the menu, Return chooses the active item).
    static std::unique_ptr<QTimer> whileMenuIsOpen(Tray& tray,
                                                   const std::function<void(QMenu&)>& inspect,
                                                   bool* seen,
                                                   const QString& key = QStringLiteral("Escape")) {
        auto poll = std::make_unique<QTimer>();
        QObject::connect(poll.get(), &QTimer::timeout, poll.get(),
                         [&tray, inspect, seen, key, timer = poll.get()] {
                             if (QApplication::activePopupWidget() != &tray.mnuTray() ||
                                 QGuiApplication::mouseButtons() != Qt::NoButton)
                                 return;
                             *seen = true;
                             timer->stop();
                             inspect(tray.mnuTray());
                             xdotool({QStringLiteral("key"), key});
                         });
        poll->start(20);
        return poll;
    }

    // The tray's own report of a context click. Used after a real menu of this test process
    // was dismissed with Escape: from then on the icon receives no further right clicks here
    // (the program itself, run by hand on the same Xvfb, keeps answering them).
    static void contextClickReport(Tray& tray) {
        Q_EMIT tray.icon().activated(QSystemTrayIcon::Context);
    }

    static QString showCaption(QMenu& menu) {
        return menu.findChild<QAction*>(QStringLiteral("mnuShow"))->text();
    }

    static inline QString s_skipReason;
    static inline QString s_display;
    static inline QProcess* s_xvfb = nullptr;
    static inline QProcess* s_trayer = nullptr;
};

}  // namespace

TEST_F(TrayTest, StartUpEndsWithOnlyTheIconShowing) {
    ProgramRig rig;
    Program& program = rig.start();
    EXPECT_TRUE(program.tray().icon().isVisible());
    EXPECT_EQ(program.tray().icon().toolTip(), "Kopierwart");
    EXPECT_TRUE(waitUntil([&] { return !program.window().isVisible(); }));
    EXPECT_TRUE(program.window().isMinimized());
}

TEST_F(TrayTest, DoubleClickOnTheIconShowsAndHidesTheWindow) {
    ProgramRig rig;
    Program& program = rig.start();
    FrmMain& window = program.window();
    ASSERT_TRUE(waitUntil([&] { return !window.isVisible(); }));

    clickIcon(program.tray(), 1, 2);
    ASSERT_TRUE(waitUntil([&] { return window.isVisible(); }));
    EXPECT_FALSE(window.isMinimized());

    clickIcon(program.tray(), 1, 2);
    ASSERT_TRUE(waitUntil([&] { return !window.isVisible(); }));
    EXPECT_TRUE(window.isMinimized());
}

TEST_F(TrayTest, BeendenInTheMenuEndsTheProgramAsFormCode) {
    ProgramRig rig;
    Program& program = rig.start();
    bool seen = false;
    const auto poll = whileMenuIsOpen(
        program.tray(),
        [](QMenu& menu) {
            menu.setActiveAction(menu.findChild<QAction*>(QStringLiteral("mnuSClose")));
        },
        &seen, QStringLiteral("Return"));
    contextClickReport(program.tray());
    ASSERT_TRUE(waitUntil([&] { return rig.ended == 1; }));
    EXPECT_TRUE(logLines(rig.log()).contains("Form_QueryUnload(UnloadMode = vbFormCode (1)"));
    EXPECT_FALSE(program.tray().icon().isVisible());
}

TEST_F(TrayTest, MinimisingTheShownWindowHidesItIntoTheTray) {
    ProgramRig rig;
    Program& program = rig.start();
    program.window().showNormal();
    ASSERT_TRUE(waitUntil([&] { return program.window().isVisible(); }));
    program.window().showMinimized();
    EXPECT_TRUE(waitUntil([&] { return !program.window().isVisible(); }));
}

TEST_F(TrayTest, MenuOffersToShowOrHideAndIgnoresCallbacksWhileOpen) {
    ProgramRig rig;
    Program& program = rig.start();
    Tray& tray = program.tray();
    ASSERT_TRUE(waitUntil([&] { return !program.window().isVisible(); }));

    bool seen = false;
    QStringList captions;
    bool busyWhileOpen = false;
    bool shownByIgnoredCallback = true;
    const auto poll = whileMenuIsOpen(
        tray,
        [&](QMenu& menu) {
            captions = {menu.actions().at(0)->text(), showCaption(menu)};
            EXPECT_FALSE(menu.actions().at(0)->isEnabled());
            busyWhileOpen = tray.TrayBusy();
            tray.pichook(QSystemTrayIcon::DoubleClick);
            shownByIgnoredCallback = program.window().isVisible();
        },
        &seen);
    clickIcon(tray, 3, 1);
    ASSERT_TRUE(waitUntil([&] { return seen && !tray.TrayBusy(); }));
    EXPECT_EQ(captions, QStringList({"Kopierwart", "Zeigen"}));
    EXPECT_TRUE(busyWhileOpen);
    EXPECT_FALSE(shownByIgnoredCallback);

    program.window().showNormal();
    ASSERT_TRUE(waitUntil([&] { return program.window().isVisible(); }));
    seen = false;
    const auto secondPoll = whileMenuIsOpen(
        tray, [&](QMenu& menu) { captions = {showCaption(menu)}; }, &seen);
    contextClickReport(tray);
    ASSERT_TRUE(waitUntil([&] { return seen && !tray.TrayBusy(); }));
    EXPECT_EQ(captions, QStringList({"Verbergen"}));
}
