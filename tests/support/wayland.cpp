#include "tests/support/wayland.h"

#include "tests/support/files.h"
#include "tests/support/qtapp.h"

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
    QProcess& bus = launch({"dbus-daemon", "--session", "--nofork", "--print-address=1"});
    if (!waitUntil([&] { return bus.canReadLine(); }, kStartMs))
        return QStringLiteral("dbus-daemon (needed) did not start a session bus");
    m_busAddress = QString::fromLocal8Bit(bus.readLine().trimmed());

    QProcessEnvironment sway = environment();
    sway.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    sway.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    sway.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    launch({"sway", "-c", folder + QLatin1String("/sway.conf")}, {}, sway);
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
    launch({"waybar", "-c", folder + QLatin1String("/waybar.json")}, {}, gtk);
    // Wide enough that a notification's text shows whole.
    launch({"mako", "--width", "460", "--height", "200"});
    const auto answersTrue = [this](const QString& service, const QString& path,
                                    const QString& method, const QStringList& arguments) {
        return waitUntil(
            [&] { return call(service, path, method, arguments, true).contains("true"); },
            kStartMs);
    };
    if (!answersTrue("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                     "org.freedesktop.DBus.Properties.Get",
                     {"org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"}))
        return QStringLiteral("waybar (needed) did not become the notification area");
    if (!answersTrue("org.freedesktop.DBus", "/org/freedesktop/DBus",
                     "org.freedesktop.DBus.NameHasOwner", {"org.freedesktop.Notifications"}))
        return QStringLiteral("mako (needed) did not start as the notification service");
    return {};
}

QProcessEnvironment WaylandDesktop::environment() const {
    // Each once known; sway and the bus do not mind the session's other names.
    const QString variables[][2] = {{"PATH", "/usr/local/bin:/usr/bin:/bin"},
                                    {"HOME", m_user.home},
                                    {"USER", kUser},
                                    {"LANG", "C.UTF-8"},
                                    {"XDG_RUNTIME_DIR", m_runtimeDir},
                                    {"DBUS_SESSION_BUS_ADDRESS", m_busAddress},
                                    {"WAYLAND_DISPLAY", m_waylandDisplay},
                                    {"SWAYSOCK", m_swaySocket},
                                    {"XDG_SESSION_TYPE", "wayland"},
                                    {"XDG_CURRENT_DESKTOP", "sway"},
                                    {"QT_QPA_PLATFORM", "wayland"}};
    QProcessEnvironment environment;
    for (const auto& [name, value] : variables)
        if (!value.isEmpty())
            environment.insert(name, value);
    return environment;
}

QProcess& WaylandDesktop::launch(const QStringList& command, const QString& workingFolder,
                                 QProcessEnvironment environment) {
    m_processes.push_back(
        launched({.command = command,
                  .folder = workingFolder.isEmpty() ? m_folder : workingFolder,
                  .environment = environment.isEmpty() ? this->environment() : environment,
                  .user = m_user,
                  .ownGroup = true}));
    return *m_processes.back();
}

QByteArray WaylandDesktop::run(const QStringList& command, bool quiet) const {
    QProcess process;
    kw::test::launch(process, {.command = command, .environment = environment(), .user = m_user});
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        if (!quiet)
            qWarning().noquote() << command.join(' ')
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
    return run(QStringList{"gdbus", "call", "--session", "--dest", service, "--object-path", path,
                           "--method", method, "--"} +
                   arguments,
               quiet);
}

void WaylandDesktop::give(const QString& path) const {
    runProgram("chown", {"-R", QStringLiteral("%1:%2").arg(m_user.uid).arg(m_user.gid), path});
}

}  // namespace kw::test
