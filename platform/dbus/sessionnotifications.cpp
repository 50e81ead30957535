#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace kw {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kServerDecidesTimeout = -1;

class SessionNotifications final : public Notifications {
public:
    bool serviceRunning() override {
        // Without a session bus, asking for one would have libdbus launch a bus of its own.
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
            !QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1String("/bus")))
            return false;
        QDBusConnection bus = QDBusConnection::sessionBus();
        // Asking for the owner rather than calling starts no service by activation.
        return bus.isConnected() && bus.interface()->isServiceRegistered(kService).value();
    }

    void notify(const QString& summary, const QString& body,
                std::function<void(const QString& reason)> failed) override {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
        call << QStringLiteral("Kopierwart") << 0u << QStringLiteral("kopierwart") << summary
             << body << QStringList() << QVariantMap() << kServerDecidesTimeout;
        auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                         [failed = std::move(failed)](QDBusPendingCallWatcher* done) {
                             const QDBusPendingReply<uint> reply = *done;
                             if (reply.isError() && failed)
                                 failed(reply.error().message());
                             done->deleteLater();
                         });
    }
};

}  // namespace

std::unique_ptr<Notifications> CreateSessionNotifications() {
    return std::make_unique<SessionNotifications>();
}

}  // namespace kw
