// The program on a real Wayland desktop: sway on its headless backend, waybar as the
// notification area, mako showing notifications, the program on Qt's Wayland platform, all as an
// ordinary user on a session bus of their own.

#include "tests/program_rig.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scratchfs.h"
#include "tests/support/wayland.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace kw;
using namespace kw::apptest;

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

bool hasWindowOf(const QJsonObject& node, qint64 pid) {
    if (node.value(QLatin1String("pid")).toInteger() == pid &&
        node.value(QLatin1String("name")).toString().startsWith(QLatin1String("Kopierwart")))
        return true;
    for (const QLatin1String children : {QLatin1String("nodes"), QLatin1String("floating_nodes")}) {
        for (const QJsonValue child : node.value(children).toArray()) {
            if (hasWindowOf(child.toObject(), pid))
                return true;
        }
    }
    return false;
}

struct WaylandTest : ::testing::Test {
    static void SetUpTestSuite() {
        ensureApplication();
        s_dir = std::make_unique<QTemporaryDir>();
        // The session's user must reach its folder inside.
        QFile::setPermissions(
            s_dir->path(), QFile::permissions(s_dir->path()) | QFile::ExeGroup | QFile::ExeOther);
        s_desktop = std::make_unique<test::WaylandDesktop>();
        s_whyNot = s_desktop->start(s_dir->path() + QLatin1String("/session"));
    }
    static void TearDownTestSuite() {
        s_desktop.reset();
        s_dir.reset();
    }

    void SetUp() override {
        if (!s_whyNot.isEmpty())
            KW_CANNOT_RUN(s_whyNot.toStdString());
    }

    test::WaylandDesktop& desktop() { return *s_desktop; }

    // The program in a folder of the user's own, which is its data folder; settings first.
    QProcess& startProgram(const QList<std::pair<QString, QString>>& settings = {}) {
        m_folder = dir.path() + QLatin1String("/program/");
        fs::makePath(m_folder);
        const ProgramProcess copy(m_folder);
        for (const auto& [key, value] : settings)
            WriteIniValue(m_folder + QLatin1String("Kopierwart.ini"), key, key, value);
        desktop().give(dir.path());
        m_program = &desktop().launch(copy.program(), {}, m_folder);
        return *m_program;
    }

    // The program's StatusNotifierItem as the notification area knows it.
    bool findItem() {
        const QByteArray reply =
            desktop().call(QStringLiteral("org.kde.StatusNotifierWatcher"),
                           QStringLiteral("/StatusNotifierWatcher"),
                           QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                           {QStringLiteral("org.kde.StatusNotifierWatcher"),
                            QStringLiteral("RegisteredStatusNotifierItems")});
        for (const QString& item : quotedTexts(reply)) {
            const qsizetype slash = item.indexOf(QLatin1Char('/'));
            const QString service = slash < 0 ? item : item.left(slash);
            const QByteArray pid = desktop().call(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"), {service}, true);
            if (pid.contains(" " + QByteArray::number(m_program->processId()) + ",")) {
                m_service = service;
                m_itemPath = slash < 0 ? QStringLiteral("/StatusNotifierItem") : item.mid(slash);
                return true;
            }
        }
        return false;
    }

    QByteArray itemCall(const QString& method, const QStringList& arguments = {}) {
        return desktop().call(m_service, m_itemPath, method, arguments);
    }
    QByteArray itemProperty(const QString& name) {
        return itemCall(QStringLiteral("org.freedesktop.DBus.Properties.Get"), {kItem, name});
    }
    QString toolTip() { return quotedTexts(itemProperty(QStringLiteral("ToolTip"))).join(' '); }

    bool windowShown() {
        const QByteArray tree = desktop().run(QStringLiteral("swaymsg"),
                                              {QStringLiteral("-t"), QStringLiteral("get_tree")});
        return hasWindowOf(QJsonDocument::fromJson(tree).object(), m_program->processId());
    }

    void activate() {
        // Two clicks closer than the double-click interval are one double click: one toggle.
        waitUntil([this] { return m_sinceActivate.isValid() && m_sinceActivate.elapsed() > 600; },
                  m_sinceActivate.isValid() ? 1000 : 0);
        itemCall(kItem + QLatin1String(".Activate"), {QStringLiteral("0"), QStringLiteral("0")});
        m_sinceActivate.start();
    }

    // The notification area asks us for the menu and shows it itself; nothing of ours becomes
    // a window.
    void rightClickOpensTheMenuInTheNotificationArea() {
        QProcess& menuCalls = desktop().launch(
            QStringLiteral("dbus-monitor"),
            {QStringLiteral("--session"), QStringLiteral("type='method_call',path='/MenuBar'")});
        QByteArray calls;
        ASSERT_TRUE(
            waitUntil([&] { return !(calls += menuCalls.readAllStandardOutput()).isEmpty(); }));
        const QString shot = dir.path() + QLatin1String("/menu.png");
        ASSERT_TRUE(desktop().screenshot(shot));
        const QImage before(shot);
        const qsizetype seen = calls.size();
        ASSERT_TRUE(desktop().click(1013, 754, test::WaylandDesktop::Button::Right));
        EXPECT_TRUE(waitUntil([&] {
            calls += menuCalls.readAllStandardOutput();
            return calls.indexOf("member=", seen) >= 0;
        })) << "the notification area did not ask for the menu";
        // Drawn once the picture stops changing.
        QImage previous = before;
        EXPECT_TRUE(waitUntil([&] {
            desktop().screenshot(shot);
            const QImage now(shot);
            const bool settled = now != before && now == previous;
            previous = now;
            return settled;
        })) << "no menu appeared";
        EXPECT_FALSE(windowShown()) << "the menu became a window";
        if (const QString docs = qEnvironmentVariable("KW_SCREENSHOTS"); !docs.isEmpty())
            QFile::copy(shot, docs + QLatin1String("/wayland-tray-menu.png"));
        // A click beside it closes it.
        desktop().click(400, 300, test::WaylandDesktop::Button::Left);
    }

    QTemporaryDir dir;
    QString m_folder;
    QProcess* m_program = nullptr;
    QString m_service;
    QString m_itemPath;
    QElapsedTimer m_sinceActivate;

    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::unique_ptr<test::WaylandDesktop> s_desktop;
    static inline QString s_whyNot;
};

TEST_F(WaylandTest, ActivationTogglesTheWindowAndTheExportedMenuEndsTheProgram) {
    QProcess& program = startProgram();
    ASSERT_TRUE(waitUntil([&] { return findItem(); })) << "no StatusNotifierItem registered";
    // The start-up goes on after the icon is there: it ends with the window in the tray.
    ASSERT_TRUE(waitUntil([&] {
        return logLines(m_folder + QLatin1String("Kopierwart.Log"))
            .contains(QStringLiteral("Starting P2Pfinder....."));
    }));
    // The line comes just before the window goes; the compositor hears of that a moment later.
    EXPECT_TRUE(waitUntil([&] { return !windowShown(); })) << "the window stayed on the desktop";
    for (const bool shown : {true, false}) {
        activate();
        ASSERT_TRUE(waitUntil([&] { return windowShown() == shown; }))
            << "the window is not " << (shown ? "shown" : "hidden");
    }

    EXPECT_TRUE(itemProperty(QStringLiteral("Menu")).contains("/MenuBar"));
    rightClickOpensTheMenuInTheNotificationArea();
    const QString layout = QString::fromUtf8(desktop().call(
        m_service, QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu.GetLayout"),
        {QStringLiteral("0"), QStringLiteral("-1"), QStringLiteral("[]")}));
    static const QRegularExpression item(
        QStringLiteral("<\\((\\d+), \\{[^}]*'label': <'([^']*)'>"));
    QMap<QString, QString> idByLabel;
    for (const auto& match : item.globalMatch(layout))
        idByLabel.insert(match.captured(2), match.captured(1));
    EXPECT_EQ(idByLabel.keys(), (QStringList{"Beenden", "Kopierwart", "Zeigen"}))
        << layout.toStdString();

    desktop().call(m_service, QStringLiteral("/MenuBar"),
                   QStringLiteral("com.canonical.dbusmenu.Event"),
                   {idByLabel.value("Beenden"), QStringLiteral("clicked"), QStringLiteral("<0>"),
                    QStringLiteral("0")});
    ASSERT_TRUE(program.waitForFinished(10000)) << "the program did not end";
    const QStringList lines = logLines(m_folder + QLatin1String("Kopierwart.Log"));
    EXPECT_TRUE(lines.contains("Form_QueryUnload(UnloadMode = vbFormCode (1)"));
    EXPECT_TRUE(lines.contains("*** Closing Kopierwart ***"));
}

}  // namespace

namespace {

// Counts the Notify calls on the session bus, as a bus monitor sees them.
struct NotifyCounter {
    explicit NotifyCounter(test::WaylandDesktop& desktop)
        : monitor(desktop.launch(QStringLiteral("dbus-monitor"),
                                 {QStringLiteral("--session"),
                                  QStringLiteral("type='method_call',interface='org.freedesktop."
                                                 "Notifications',member='Notify'")})) {}
    // Once the monitor has said it watches (the bus's NameLost of becoming a monitor).
    bool ready() {
        return waitUntil([this] {
            output += monitor.readAllStandardOutput();
            return !output.isEmpty();
        });
    }
    int count() {
        output += monitor.readAllStandardOutput();
        return int(output.count("member=Notify"));
    }
    QProcess& monitor;
    QByteArray output;
};

// Written out: a file of holes would take no room on the destination.
void makeFile(const QString& path, qint64 size) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(QByteArray(size, 'k')), size);
}

}  // namespace

TEST_F(WaylandTest, AFullDestinationIsNotifiedOnceAndOnceWhenSpaceIsFreedButMovesAreNot) {
    const QString source = dir.path() + QLatin1String("/upload/");
    const QString staging = dir.path() + QLatin1String("/staging/");
    const QString destination = dir.path() + QLatin1String("/stick/");
    fs::makePath(source);
    fs::makePath(staging);
    QString why;
    auto stick = test::ScratchFileSystem::make(test::ScratchFileSystem::Type::Tmpfs, destination,
                                               1 << 20, &why);
    if (!stick)
        KW_CANNOT_RUN(why.toStdString());
    const auto remount = [&](const char* size) {
        return QProcess::execute("mount",
                                 {"-o", QLatin1String("remount,size=") + size, destination}) == 0;
    };
    NotifyCounter notifications(desktop());
    ASSERT_TRUE(notifications.ready());
    desktop().run(QStringLiteral("makoctl"), {QStringLiteral("dismiss"), QStringLiteral("--all")});

    startProgram({{"Source", source}, {"Destination", destination}, {"Intervall", "1"}});
    ASSERT_TRUE(waitUntil([&] { return findItem(); })) << "no StatusNotifierItem registered";
    EXPECT_FALSE(toolTip().contains("Zielverzeichnis voll")) << toolTip().toStdString();

    makeFile(staging + QLatin1String("film.avi"), 3 << 20);
    desktop().give(staging);
    ASSERT_TRUE(
        QFile::rename(staging + QLatin1String("film.avi"), source + QLatin1String("film.avi")));
    ASSERT_TRUE(waitUntil([&] { return toolTip().contains("Zielverzeichnis voll"); }))
        << toolTip().toStdString();
    EXPECT_TRUE(toolTip().contains(source + QLatin1String("film.avi"))) << toolTip().toStdString();
    ASSERT_TRUE(waitUntil([&] { return notifications.count() == 1; }));
    // The text crosses the bus as UTF-8.
    EXPECT_TRUE(notifications.output.contains("Sie bleibt im überwachten Verzeichnis"))
        << notifications.output.toStdString();
    ASSERT_TRUE(waitUntil([&] {
        return desktop()
            .run(QStringLiteral("makoctl"), {QStringLiteral("list")})
            .contains("Zielverzeichnis voll");
    })) << "mako shows no notification";
    if (const QString docs = qEnvironmentVariable("KW_SCREENSHOTS"); !docs.isEmpty()) {
        EXPECT_TRUE(desktop().screenshot(docs + QLatin1String("/wayland-notification.png")));
    }

    ASSERT_TRUE(remount("16m"));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(destination + QLatin1String("film.avi")); }));
    ASSERT_TRUE(waitUntil([&] { return !toolTip().contains("Zielverzeichnis voll"); }))
        << toolTip().toStdString();
    ASSERT_TRUE(waitUntil([&] { return notifications.count() == 2; }));

    // A burst of moves is no news for the user.
    for (int i = 0; i < 1000; ++i)
        makeFile(staging + QStringLiteral("%1.part").arg(i, 4, 10, QLatin1Char('0')), 100);
    desktop().give(staging);
    for (int i = 0; i < 1000; ++i) {
        const QString name = QStringLiteral("%1.part").arg(i, 4, 10, QLatin1Char('0'));
        ASSERT_TRUE(QFile::rename(staging + name, source + name));
    }
    ASSERT_TRUE(
        waitUntil([&] { return QDir(destination).entryList(QDir::Files).size() == 1001; }, 30000))
        << QDir(destination).entryList(QDir::Files).size() << " files moved";
    EXPECT_EQ(notifications.count(), 2);
    EXPECT_TRUE(desktop()
                    .run(QStringLiteral("makoctl"), {QStringLiteral("list")})
                    .contains("Zielverzeichnis hat wieder Platz"));
}
