#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace kw {

// Messages the desktop shows to the user outside our windows (the session's notification
// service). Sending never waits for the service, nor for the bus that leads to it.
class Notifications {
public:
    virtual ~Notifications() = default;

    // One notification, sent only when a notification service runs then: no service is started
    // for us, as without one the user has chosen to see none. failed later receives, on the
    // caller's thread, why the service did not take it.
    virtual void notify(const QString& summary, const QString& body,
                        std::function<void(const QString& reason)> failed) = 0;
};

// The session bus's org.freedesktop.Notifications.
std::unique_ptr<Notifications> CreateSessionNotifications();

}  // namespace kw
