#pragma once

#include "tests/support/launch.h"

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

namespace kw::test {

// A Wayland desktop for an ordinary user (sway refuses root): sway headless, waybar as the
// notification area, mako for notifications, on a bus and runtime folder of their own. Its
// processes, each in a group of its own, end with it.
class WaylandDesktop {
public:
    static constexpr const char* kUser = "kwdesktop";

    ~WaylandDesktop();
    // Empty text once the notification area and service answer; otherwise why not.
    QString start(const QString& folder);
    QProcessEnvironment environment() const;
    // Starts command as the user (in the desktop's environment unless given one); it ends with
    // the desktop at the latest.
    QProcess& launch(const QStringList& command, const QString& workingFolder = {},
                     QProcessEnvironment environment = {});
    // Runs a command as the user; its output, or nothing when it failed (said unless quiet).
    QByteArray run(const QStringList& command, bool quiet = false) const;
    // A method call on the session bus through gdbus; its reply as printed.
    QByteArray call(const QString& service, const QString& path, const QString& method,
                    const QStringList& arguments = {}, bool quiet = false) const;
    // Hands path and everything below it to the user.
    void give(const QString& path) const;

private:
    Account m_user;
    QString m_folder, m_runtimeDir, m_busAddress, m_waylandDisplay, m_swaySocket;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

}  // namespace kw::test
