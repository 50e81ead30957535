#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace kw {

// Messages the desktop shows to the user outside our windows (the session's notification
// service). Sending never waits for the service.
class Notifications {
public:
    virtual ~Notifications() = default;

    // True when a notification service runs now. No service is started for us: without one the
    // user has chosen to see none.
    virtual bool serviceRunning() = 0;
    // One notification; failed later receives why the service did not take it.
    virtual void notify(const QString& summary, const QString& body,
                        std::function<void(const QString& reason)> failed) = 0;
};

// The session bus's org.freedesktop.Notifications.
std::unique_ptr<Notifications> CreateSessionNotifications();

}  // namespace kw
