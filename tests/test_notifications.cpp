// Problems as the user sees them: one notification when a kind of problem starts and one when it
// ends, and the tray's icon and tooltip while it lasts.

#include "core/eventlog.h"
#include "platform/notifications.h"
#include "tests/running_program.h"
#include "tests/support/cannotrun.h"
#include "tests/support/qtapp.h"
#include "tests/support/teardown.h"
#include "tests/support/xserver.h"
#include "ui/problemnotifier.h"
#include "ui/tray.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

using namespace kw;

namespace {

// A notification service that keeps what it is sent.
struct RecordingNotifications : Notifications {
    void notify(const QString& summary, const QString& body,
                std::function<void(const QString&)> failed) override {
        if (!running)
            return;
        sent.append(summary + QLatin1String(" | ") + body);
        if (refuse)
            failed(QStringLiteral("refused"));
    }
    bool running = true;
    bool refuse = false;
    QStringList sent;
};

const Problem kGone{ProblemKind::DestinationGone, QStringLiteral("/media/stick/")};
const Problem kFullA{ProblemKind::NoSpace, QStringLiteral("/up/a.avi")};
const Problem kFullB{ProblemKind::NoSpace, QStringLiteral("/up/b.avi")};
const Problem kSettings{ProblemKind::SettingsUnreadable, QStringLiteral("/cfg/Kopierwart.ini")};

struct NotifierTest : ::testing::Test {
    void SetUp() override { test::ensureApplication(); }
    RecordingNotifications notifications;
    EventLog log;
    ProblemNotifier notifier{notifications, log};
};

}  // namespace

TEST_F(NotifierTest, OneNotificationWhenAKindStartsAndOneWhenItEnds) {
    // Each step: the cycle's set, then what was sent by that step.
    const struct {
        Problems scan;
        QStringList sent;
    } steps[] = {
        {{}, {}},
        {{kFullA},
         {"Zielverzeichnis voll | Für '/up/a.avi' ist im Zielverzeichnis nicht genug Platz. Sie "
          "bleibt im überwachten Verzeichnis, bis Platz frei wird."}},
        // More files of the same kind, the same files again: nothing new for the user.
        {{kFullA, kFullB}, {}},
        {{kFullB}, {}},
        {{kGone, kFullB},
         {"Zielverzeichnis nicht erreichbar | Das Zielverzeichnis '/media/stick/' ist nicht "
          "eingehängt. Die Dateien warten, bis es wieder da ist."}},
        {{kGone},
         {"Zielverzeichnis hat wieder Platz | Keine Datei wartet mehr auf Platz im "
          "Zielverzeichnis."}},
        {{},
         {"Zielverzeichnis wieder erreichbar | Das Zielverzeichnis '/media/stick/' ist wieder "
          "da."}},
        {{}, {}},
    };
    int step = 0;
    for (const auto& [scan, sent] : steps) {
        notifications.sent.clear();
        notifier.setProblems(QStringLiteral("scan"), scan);
        EXPECT_EQ(notifications.sent, sent) << "step " << step;
        EXPECT_EQ(notifier.problems(), scan) << "step " << step;
        ++step;
    }
}

TEST_F(NotifierTest, SourcesAddUpAndAKindEndsOnlyWhenNoSourceHasItLeft) {
    notifier.setProblems(QStringLiteral("start-up"), {kSettings});
    notifier.setProblems(QStringLiteral("scan"), {kFullA, kFullB});
    EXPECT_EQ(notifier.problems(), (Problems{kFullA, kFullB, kSettings}));
    EXPECT_EQ(notifications.sent.size(), 2);
    EXPECT_TRUE(
        notifications.sent.last().contains("Für '/up/a.avi' und 1 weitere Datei ist im "
                                           "Zielverzeichnis nicht genug Platz. Sie bleiben"))
        << notifications.sent.last().toStdString();

    notifications.sent.clear();
    notifier.setProblems(QStringLiteral("other"), {kFullA});
    notifier.setProblems(QStringLiteral("scan"), {});
    EXPECT_TRUE(notifications.sent.isEmpty()) << "another source still has no space";
    notifier.setProblems(QStringLiteral("other"), {});
    notifier.setProblems(QStringLiteral("start-up"), {});
    EXPECT_EQ(notifications.sent,
              (QStringList{"Zielverzeichnis hat wieder Platz | Keine Datei wartet mehr auf Platz "
                           "im Zielverzeichnis.",
                           "Einstellungen wieder lesbar | Die Datei '/cfg/Kopierwart.ini' kann "
                           "wieder gelesen werden."}));
    EXPECT_TRUE(notifier.problems().isEmpty());
}

TEST_F(NotifierTest, WithoutAServiceNothingIsSentAndARefusalIsLogged) {
    notifications.running = false;
    notifier.setProblems(QStringLiteral("scan"), {kGone});
    EXPECT_TRUE(notifications.sent.isEmpty());
    EXPECT_EQ(notifier.problems(), Problems{kGone});

    QTemporaryDir dir;
    log.setLogFile(dir.path() + QLatin1String("/log"));
    notifications.running = true;
    notifications.refuse = true;
    notifier.setProblems(QStringLiteral("scan"), {});
    log.flush();
    QFile file(dir.path() + QLatin1String("/log"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(
        "The notification 'Zielverzeichnis wieder erreichbar' was not shown: refused"));
}

TEST_F(NotifierTest, TrayTellsTheStateAndMarksItsIconWhileAProblemLasts) {
    QWidget window;
    Tray tray(window, QStringLiteral("Kopierwart"));
    QObject::connect(&notifier, &ProblemNotifier::problemsChanged, &tray, &Tray::setProblems);
    tray.setStatistics(QStringLiteral("2 Gesicherte Dateien (1,5 MB)"));
    EXPECT_EQ(tray.icon().toolTip(),
              "Kopierwart\n2 Gesicherte Dateien (1,5 MB)\nKein P2P-Programm läuft");

    tray.setP2PPrograms({QStringLiteral("eMule"), QStringLiteral("Shareaza")});
    notifier.setProblems(QStringLiteral("scan"), {kGone, kFullA, kFullB});
    EXPECT_EQ(tray.icon().toolTip(),
              "Kopierwart\n2 Gesicherte Dateien (1,5 MB)\nP2P-Programme: eMule, Shareaza\n"
              "Zielverzeichnis nicht erreichbar: /media/stick/\nZielverzeichnis voll: /up/a.avi");
    EXPECT_TRUE(tray.showsProblem());
    const QImage marked = tray.icon().icon().pixmap(32).toImage();
    EXPECT_NE(marked, programIcon().pixmap(32).toImage());
    // The mark is red, in the lower right corner.
    const QColor corner = marked.pixelColor(27, 28);
    EXPECT_GT(corner.red(), 150);
    EXPECT_LT(corner.green(), 80);

    notifier.setProblems(QStringLiteral("scan"), {});
    EXPECT_FALSE(tray.showsProblem());
    EXPECT_FALSE(tray.icon().toolTip().contains("Zielverzeichnis"));
    EXPECT_EQ(tray.icon().icon().pixmap(32).toImage(), programIcon().pixmap(32).toImage());
}

TEST(TrayClicks, AClickTogglesTheWindowAndTheClicksOfADoubleClickToggleItOnce) {
    test::ensureApplication();
    QWidget window;
    Tray tray(window, QStringLiteral("Kopierwart"));
    // As start-up leaves it where no window manager hides a minimised window.
    window.showMinimized();
    using Reason = QSystemTrayIcon::ActivationReason;
    const struct {
        QList<Reason> clicks;
        bool shown;
    } steps[] = {
        {{Reason::Trigger}, true},
        {{Reason::Trigger}, false},
        // A double click on an embedded icon: press, press, double click.
        {{Reason::Trigger, Reason::Trigger, Reason::DoubleClick}, true},
        {{Reason::Trigger, Reason::DoubleClick}, false},
        {{Reason::DoubleClick}, true},
        {{Reason::Context, Reason::MiddleClick}, true},
    };
    for (const auto& [clicks, shown] : steps) {
        // Apart from the previous step by more than a double click's interval.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        for (const Reason reason : clicks)
            tray.pichook(reason);
        EXPECT_EQ(window.isVisible() && !window.isMinimized(), shown);
    }
    EXPECT_EQ(tray.icon().contextMenu(), &tray.mnuTray());
}

// The session bus stops (as a bus daemon under a debugger or swapped out does) just before a
// problem is to be notified: the window's thread goes on, so the next file still moves.
TEST(SessionBus, AStoppedBusHoldsUpNeitherTheWindowNorTheMoves) {
    apptest::RunningProgram rig;
    QString why;
    if (!rig.destinationOnTmpfs(1 << 20, &why))
        KW_CANNOT_RUN(why.toStdString());
    const auto bus =
        test::startHelper("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!test::waitUntil([&] { return bus->canReadLine(); }))
        KW_CANNOT_RUN("dbus-daemon (needed) did not start a session bus");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS",
                       QString::fromLocal8Bit(bus->readLine().trimmed()));
    rig.start({}, environment);
    ASSERT_TRUE(rig.waitStarted());
    const test::AtTestEnd resume("kill -CONT " + QString::number(bus->processId()));
    ASSERT_EQ(::kill(pid_t(bus->processId()), SIGSTOP), 0);

    // Too big for the destination: the problem "no space" starts and is to be notified.
    ASSERT_EQ(fs::replaceAtomically(rig.source + "big.bin", QByteArray(2 << 20, 'b')), 0);
    ASSERT_TRUE(
        test::waitUntil([&] { return !rig.lines().filter("not enough free space").isEmpty(); }));
    ASSERT_EQ(fs::replaceAtomically(rig.source + "small.bin", "moves on"), 0);
    // Well within the bus's own timeout of 25 s, which a blocking call would wait out.
    EXPECT_TRUE(test::waitUntil(
        [&] { return fs::facts(rig.destination + "small.bin").has_value(); }, 10'000));
    EXPECT_TRUE(rig.terminate(10'000));
    bus->kill();
    bus->waitForFinished();
}
