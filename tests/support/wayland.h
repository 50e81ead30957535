#pragma once

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

#include <sys/types.h>

namespace kw::test {

// A Wayland desktop of its own for an ordinary user (sway refuses root): sway on its headless
// backend, waybar as the notification area (a StatusNotifierItem host), mako for notifications,
// all on a session bus of their own and a runtime folder of their own. Every process it starts
// runs in a process group of its own, which the destructor kills, whatever the test's outcome.
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
    // A click of the session's mouse at x y; false when it was not done.
    enum class Button { Left, Right };
    bool click(int x, int y, Button button);
    // A screenshot of the whole output as PNG; false when grim failed.
    bool screenshot(const QString& file) const;

    uid_t uid() const { return m_uid; }

private:
    QProcess& startAsUser(const QString& program, const QStringList& arguments,
                          const QString& workingFolder, const QProcessEnvironment& environment);
    QString startBus();

    uid_t m_uid = 0;
    gid_t m_gid = 0;
    QString m_home;
    QString m_folder;
    QString m_runtimeDir;
    QString m_busAddress;
    QString m_waylandDisplay;
    QString m_swaySocket;
    QProcess* m_pointer = nullptr;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

}  // namespace kw::test
