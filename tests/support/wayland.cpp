#include "tests/support/wayland.h"

#include "tests/support/files.h"
#include "tests/support/qtapp.h"

#include <QDebug>
#include <QDir>

#include <unistd.h>

namespace kw::test {
namespace {

constexpr int kStartMs = 15000;

const QByteArray kSwayConfig =
    "xwayland disable\n"
    "output HEADLESS-1 resolution 1024x768 position 0 0\n";
const QByteArray kWaybarConfig = R"({"layer": "top", "position": "bottom", "height": 28,
 "modules-left": [], "modules-center": [], "modules-right": ["tray"], "tray": {"icon-size": 20}}
)";

}  // namespace

WaylandDesktop::~WaylandDesktop() {
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it)
        endGroup(**it);
}

QString WaylandDesktop::start(const QString& folder) {
    if (::geteuid() != 0)
        return QStringLiteral("needs root to run the desktop as an ordinary user");
    const auto user = Account::ensure(kUser, true);
    if (!user)
        return QStringLiteral("cannot add the user ") + kUser;
    m_user = *user;
    m_folder = folder;
    m_runtimeDir = folder + QLatin1String("/runtime");
    if (!QDir().mkpath(m_runtimeDir) ||
        !QFile::setPermissions(m_runtimeDir,
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return QStringLiteral("cannot prepare ") + folder;
    writeBytes(folder + QLatin1String("/sway.conf"), kSwayConfig);
    writeBytes(folder + QLatin1String("/waybar.json"), kWaybarConfig);
    give(folder);

    // Not dbus-launch, which detaches: as our child it ends with the test, with its services.
    QProcess& bus =
        startAsUser({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, environment());
    if (!waitUntil([&] { return bus.canReadLine(); }, kStartMs))
        return QStringLiteral("dbus-daemon (needed) did not start a session bus");
    m_busAddress = QString::fromLocal8Bit(bus.readLine().trimmed());

    QProcessEnvironment sway = environment();
    sway.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    sway.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    sway.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    startAsUser({"sway", "-c", folder + QLatin1String("/sway.conf")}, sway);
    const QDir runtime(m_runtimeDir);
    if (!waitUntil(
            [&] {
                const QStringList display = runtime.entryList({"wayland-?"}, QDir::System);
                const QStringList ipc = runtime.entryList({"sway-ipc.*.sock"}, QDir::System);
                if (display.isEmpty() || ipc.isEmpty())
                    return false;
                m_waylandDisplay = display.first();
                m_swaySocket = runtime.filePath(ipc.first());
                return true;
            },
            kStartMs))
        return QStringLiteral("sway (needed) did not start on its headless backend");

    // Without accessibility: GTK would start a bus of its own for it.
    QProcessEnvironment gtk = environment();
    gtk.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    gtk.insert(QStringLiteral("GTK_A11Y"), QStringLiteral("none"));
    startAsUser({"waybar", "-c", folder + QLatin1String("/waybar.json")}, gtk);
    // Wide enough that a notification's text shows whole.
    startAsUser({"mako", "--width", "460", "--height", "200"}, environment());
    if (!waitUntil(
            [this] {
                return call("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                            "org.freedesktop.DBus.Properties.Get",
                            {"org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"},
                            true)
                    .contains("true");
            },
            kStartMs))
        return QStringLiteral("waybar (needed) did not become the notification area");
    if (!waitUntil(
            [this] {
                return call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus.NameHasOwner", {"org.freedesktop.Notifications"},
                            true)
                    .contains("true");
            },
            kStartMs))
        return QStringLiteral("mako (needed) did not start as the notification service");
    return {};
}

QProcessEnvironment WaylandDesktop::environment() const {
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), m_user.home);
    environment.insert(QStringLiteral("USER"), kUser);
    environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    if (!m_busAddress.isEmpty())
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    if (!m_waylandDisplay.isEmpty()) {
        environment.insert(QStringLiteral("WAYLAND_DISPLAY"), m_waylandDisplay);
        environment.insert(QStringLiteral("SWAYSOCK"), m_swaySocket);
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("sway"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    }
    return environment;
}

QProcess& WaylandDesktop::startAsUser(const QStringList& command,
                                      const QProcessEnvironment& environment,
                                      const QString& workingFolder) {
    m_processes.push_back(launched({.command = command,
                                    .folder = workingFolder.isEmpty() ? m_folder : workingFolder,
                                    .environment = environment,
                                    .user = m_user,
                                    .ownGroup = true}));
    return *m_processes.back();
}

QProcess& WaylandDesktop::launch(const QString& program, const QStringList& arguments,
                                 const QString& workingFolder) {
    return startAsUser(QStringList{program} + arguments, environment(), workingFolder);
}

QByteArray WaylandDesktop::run(const QString& program, const QStringList& arguments,
                               bool quiet) const {
    QProcess process;
    kw::test::launch(process, {.command = QStringList{program} + arguments,
                               .environment = environment(),
                               .user = m_user});
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        if (!quiet)
            qWarning().noquote() << program << arguments.join(' ')
                                 << "failed:" << process.readAllStandardError();
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput();
}

QByteArray WaylandDesktop::call(const QString& service, const QString& path, const QString& method,
                                const QStringList& arguments, bool quiet) const {
    // After "--", arguments such as -1 are no options.
    return run("gdbus",
               QStringList{"call", "--session", "--dest", service, "--object-path", path,
                           "--method", method, "--"} +
                   arguments,
               quiet);
}

void WaylandDesktop::give(const QString& path) const {
    runProgram("chown", {"-R", QStringLiteral("%1:%2").arg(m_user.uid).arg(m_user.gid), path});
}

}  // namespace kw::test
