#include "tests/support/wayland.h"

#include "tests/support/qtapp.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kw::test {
namespace {

constexpr int kStartMs = 15000;
constexpr int kWidth = 1024;
constexpr int kHeight = 768;

bool writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

const QByteArray kSwayConfig = R"(xwayland disable
output HEADLESS-1 resolution 1024x768 position 0 0
default_border pixel 2
)";

// The tray alone at the bottom right, where a click on it can be aimed.
const QByteArray kWaybarConfig = R"({
    "layer": "top", "position": "bottom", "height": 28,
    "modules-left": [], "modules-center": [], "modules-right": ["tray"],
    "tray": {"icon-size": 20, "spacing": 6}
}
)";
const QByteArray kWaybarStyle = "window#waybar { background: #2b2b2b; color: #ffffff; }\n";

}  // namespace

WaylandDesktop::~WaylandDesktop() {
    for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
        QProcess& process = **it;
        if (process.state() == QProcess::NotRunning)
            continue;
        ::kill(-pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(3000)) {
            ::kill(-pid_t(process.processId()), SIGKILL);
            process.waitForFinished(3000);
        }
    }
}

QString WaylandDesktop::start(const QString& folder) {
    if (::geteuid() != 0)
        return QStringLiteral("needs root to run the desktop as an ordinary user");
    if (!getpwnam(kUser) &&
        QProcess::execute(QStringLiteral("useradd"), {QStringLiteral("-m"), kUser}) != 0)
        return QStringLiteral("cannot add the user ") + kUser;
    const passwd* user = getpwnam(kUser);
    if (!user)
        return QStringLiteral("no user ") + kUser;
    m_uid = user->pw_uid;
    m_gid = user->pw_gid;
    m_home = QString::fromLocal8Bit(user->pw_dir);

    m_folder = folder;
    m_runtimeDir = folder + QLatin1String("/runtime");
    if (!QDir().mkpath(m_runtimeDir) || ::chmod(QFile::encodeName(m_runtimeDir), 0700) != 0 ||
        !writeFile(folder + QLatin1String("/sway.conf"), kSwayConfig) ||
        !writeFile(folder + QLatin1String("/waybar.json"), kWaybarConfig) ||
        !writeFile(folder + QLatin1String("/waybar.css"), kWaybarStyle))
        return QStringLiteral("cannot prepare ") + folder;
    give(folder);

    if (QString whyNot = startBus(); !whyNot.isEmpty())
        return whyNot;

    QProcessEnvironment swayEnvironment = environment();
    swayEnvironment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    swayEnvironment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    swayEnvironment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    startAsUser(QStringLiteral("sway"),
                {QStringLiteral("-c"), folder + QLatin1String("/sway.conf")}, folder,
                swayEnvironment);
    const QDir runtime(m_runtimeDir);
    if (!waitUntil(
            [&] {
                const QStringList display =
                    runtime.entryList({QStringLiteral("wayland-?")}, QDir::System);
                const QStringList ipc =
                    runtime.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
                if (display.isEmpty() || ipc.isEmpty())
                    return false;
                m_waylandDisplay = display.first();
                m_swaySocket = runtime.filePath(ipc.first());
                return true;
            },
            kStartMs))
        return QStringLiteral("sway (needed) did not start on its headless backend");

    // The mouse comes before the notification area, which then has a pointer from its start.
    // Copied into the session's folder: the build folder may lie where the user cannot enter.
    const QString pointer = folder + QLatin1String("/pointer");
    QFile::remove(pointer);
    if (!QFile::copy(QStringLiteral(KW_TEST_POINTER), pointer) ||
        ::chmod(QFile::encodeName(pointer), 0755) != 0)
        return QStringLiteral("cannot copy the virtual pointer into ") + folder;
    m_pointer = &startAsUser(pointer, {QString::number(kWidth), QString::number(kHeight)}, folder,
                             environment());
    if (!waitUntil([this] { return m_pointer->canReadLine(); }, kStartMs) ||
        m_pointer->readLine() != "ready\n")
        return QStringLiteral("the virtual pointer (needed) did not start");

    // Without accessibility: GTK would start a bus of its own for it.
    QProcessEnvironment gtkEnvironment = environment();
    gtkEnvironment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    gtkEnvironment.insert(QStringLiteral("GTK_A11Y"), QStringLiteral("none"));
    startAsUser(QStringLiteral("waybar"),
                {QStringLiteral("-c"), folder + QLatin1String("/waybar.json"), QStringLiteral("-s"),
                 folder + QLatin1String("/waybar.css")},
                folder, gtkEnvironment);
    // Wide enough that a notification's text shows whole.
    startAsUser(QStringLiteral("mako"),
                {QStringLiteral("--width"), QStringLiteral("460"), QStringLiteral("--height"),
                 QStringLiteral("200")},
                folder, environment());
    const auto hostRegistered = [this] {
        return call(QStringLiteral("org.kde.StatusNotifierWatcher"),
                    QStringLiteral("/StatusNotifierWatcher"),
                    QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                    {QStringLiteral("org.kde.StatusNotifierWatcher"),
                     QStringLiteral("IsStatusNotifierHostRegistered")},
                    true)
            .contains("true");
    };
    if (!waitUntil(hostRegistered, kStartMs))
        return QStringLiteral("waybar (needed) did not become the notification area");
    if (!waitUntil([this] { return nameHasOwner(QStringLiteral("org.freedesktop.Notifications")); },
                   kStartMs))
        return QStringLiteral("mako (needed) did not start as the notification service");
    return {};
}

QString WaylandDesktop::startBus() {
    // The daemon itself rather than dbus-launch, which would detach it: as our child it ends with
    // the test, however that ends, and takes the services it starts with its process group.
    QProcess& bus = startAsUser(QStringLiteral("dbus-daemon"),
                                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                 QStringLiteral("--print-address=1")},
                                m_folder, environment());
    if (!waitUntil([&] { return bus.canReadLine(); }, kStartMs))
        return QStringLiteral("dbus-daemon (needed) did not start a session bus");
    m_busAddress = QString::fromLocal8Bit(bus.readLine().trimmed());
    return {};
}

QProcessEnvironment WaylandDesktop::environment() const {
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), m_home);
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

QProcess& WaylandDesktop::startAsUser(const QString& program, const QStringList& arguments,
                                      const QString& workingFolder,
                                      const QProcessEnvironment& environment) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setChildProcessModifier(
        [uid = m_uid, gid = m_gid, folder = QFile::encodeName(workingFolder)] {
            // A group of its own, so tear-down reaches whatever it starts.
            ::setsid();
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(126);
            // After the change of user, which clears it.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (!folder.isEmpty() && ::chdir(folder.constData()) != 0)
                ::_exit(127);
        });
    process->start(program, arguments);
    process->waitForStarted();
    m_processes.push_back(std::move(process));
    return *m_processes.back();
}

QProcess& WaylandDesktop::launch(const QString& program, const QStringList& arguments,
                                 const QString& workingFolder) {
    return startAsUser(program, arguments, workingFolder.isEmpty() ? m_folder : workingFolder,
                       environment());
}

QByteArray WaylandDesktop::run(const QString& program, const QStringList& arguments,
                               bool quiet) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setChildProcessModifier([uid = m_uid, gid = m_gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(126);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        if (!quiet)
            qWarning().noquote() << program << arguments.join(QLatin1Char(' '))
                                 << "failed:" << process.readAllStandardError();
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput();
}

QByteArray WaylandDesktop::call(const QString& service, const QString& path, const QString& method,
                                const QStringList& arguments, bool quiet) const {
    return run(QStringLiteral("gdbus"),
               QStringList{QStringLiteral("call"), QStringLiteral("--session"),
                           QStringLiteral("--dest"), service, QStringLiteral("--object-path"), path,
                           // Arguments such as -1 are no options.
                           QStringLiteral("--method"), method, QStringLiteral("--")} +
                   arguments,
               quiet);
}

bool WaylandDesktop::nameHasOwner(const QString& name) const {
    return call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus.NameHasOwner"), {name}, true)
        .contains("true");
}

void WaylandDesktop::give(const QString& path) const {
    QProcess::execute(QStringLiteral("chown"),
                      {QStringLiteral("-R"),
                       QString::number(m_uid) + QLatin1Char(':') + QString::number(m_gid), path});
}

bool WaylandDesktop::click(int x, int y, Button button) {
    m_pointer->write(
        QStringLiteral("click %1 %2 %3\n")
            .arg(x)
            .arg(y)
            .arg(button == Button::Right ? QLatin1String("right") : QLatin1String("left"))
            .toLatin1());
    return waitUntil([this] { return m_pointer->canReadLine(); }, 5000) &&
           m_pointer->readLine() == "done\n";
}

bool WaylandDesktop::screenshot(const QString& file) const {
    // grim writes as the user: into the session's folder first, then here.
    const QString own = m_folder + QLatin1String("/screenshot.png");
    QFile::remove(own);
    run(QStringLiteral("grim"), {own});
    QFile::remove(file);
    return QFile::exists(own) && QFile::copy(own, file);
}

}  // namespace kw::test
