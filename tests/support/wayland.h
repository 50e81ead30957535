#pragma once

#include "tests/support/launch.h"

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

namespace kw::test {

// A Wayland desktop of its own for an ordinary user (sway refuses root): sway on its headless
// backend, waybar as the notification area (a StatusNotifierItem host), mako for notifications,
// all on a session bus and in a runtime folder of their own. Each process it starts runs in a
// process group of its own, which the destructor ends, whatever the test's outcome.
class WaylandDesktop {
public:
    static constexpr const char* kUser = "kwdesktop";

    ~WaylandDesktop();

    // Brings the desktop up with its files in folder (made for the user). Empty text when the
    // notification area and the notification service answer; otherwise why not.
    QString start(const QString& folder);

    // The session's environment for a program of the user.
    QProcessEnvironment environment() const;
    // Starts program as the user in workingFolder; it ends with the desktop at the latest.
    QProcess& launch(const QString& program, const QStringList& arguments,
                     const QString& workingFolder = {});
    // Runs a command of the session as the user; its standard output, or nothing when it failed
    // (said on the test's output unless quiet: polls expect failures for a while).
    QByteArray run(const QString& program, const QStringList& arguments, bool quiet = false) const;
    // A method call on the session bus through gdbus; its reply as gdbus prints it.
    QByteArray call(const QString& service, const QString& path, const QString& method,
                    const QStringList& arguments = {}, bool quiet = false) const;
    bool nameHasOwner(const QString& name) const;
    // Hands path and everything below it to the user.
    void give(const QString& path) const;

private:
    QProcess& startAsUser(const QStringList& command, const QProcessEnvironment& environment,
                          const QString& workingFolder = {});

    Account m_user;
    QString m_folder;
    QString m_runtimeDir;
    QString m_busAddress;
    QString m_waylandDisplay;
    QString m_swaySocket;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

}  // namespace kw::test
