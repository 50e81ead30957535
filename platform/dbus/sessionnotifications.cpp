#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QVariantMap>

namespace kw {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kServerDecidesTimeout = -1;
// At the end a bus thread still connecting to a stopped bus is left to the end of the process.
constexpr int kEndWaitMs = 200;

bool sessionBusNamed() {
    // Without a session bus, asking for one would have libdbus launch a bus of its own.
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1String("/bus"));
}

// Runs then with the reply of call when it comes, on the thread that made the call.
void whenAnswered(const QDBusPendingCall& call,
                  std::function<void(const QDBusPendingCallWatcher&)> then) {
    auto* watcher = new QDBusPendingCallWatcher(call);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [then = std::move(then)](QDBusPendingCallWatcher* done) {
                         then(*done);
                         done->deleteLater();
                     });
}

// Every call to the bus is made on a thread of its own: connecting to the bus waits for it, and a
// stopped or busy bus must not hold up the windows. Nothing is asked of it synchronously.
class SessionNotifications final : public Notifications {
public:
    SessionNotifications() : m_busThread(new QThread), m_busContext(new QObject) {
        m_busThread->setObjectName(QStringLiteral("session bus"));
        m_busContext->moveToThread(m_busThread);
        m_busThread->start();
        // Connected early, so the first problem does not wait for the connection.
        onBusThread([] {
            if (sessionBusNamed())
                QDBusConnection::sessionBus();
        });
    }
    ~SessionNotifications() override {
        m_busThread->quit();
        if (!m_busThread->wait(kEndWaitMs))
            return;
        delete m_busContext;
        delete m_busThread;
    }

    void notify(const QString& summary, const QString& body,
                std::function<void(const QString& reason)> failed) override {
        auto reportFailure = [home = QPointer<QObject>(&m_home),
                              failed = std::move(failed)](const QString& reason) {
            if (failed && home)
                QMetaObject::invokeMethod(home, [failed, reason] { failed(reason); });
        };
        onBusThread([summary, body, reportFailure] {
            if (!sessionBusNamed())
                return;
            QDBusConnection bus = QDBusConnection::sessionBus();
            if (!bus.isConnected())
                return;
            // Asking for the owner rather than calling starts no service by activation.
            QDBusMessage owner = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
            owner << kService;
            whenAnswered(bus.asyncCall(owner),
                         [summary, body, reportFailure](const QDBusPendingCallWatcher& ownerReply) {
                             const QDBusPendingReply<bool> running = ownerReply;
                             // Without a service the user has chosen to see no notifications.
                             if (running.isError() || !running.value())
                                 return;
                             QDBusMessage call = QDBusMessage::createMethodCall(
                                 kService, kPath, kService, QStringLiteral("Notify"));
                             call << QStringLiteral("Kopierwart") << 0u
                                  << QStringLiteral("kopierwart") << summary << body
                                  << QStringList() << QVariantMap() << kServerDecidesTimeout;
                             whenAnswered(QDBusConnection::sessionBus().asyncCall(call),
                                          [reportFailure](const QDBusPendingCallWatcher& sent) {
                                              const QDBusPendingReply<uint> reply = sent;
                                              if (reply.isError())
                                                  reportFailure(reply.error().message());
                                          });
                         });
        });
    }

private:
    void onBusThread(std::function<void()> call) {
        QMetaObject::invokeMethod(m_busContext, std::move(call));
    }

    QThread* m_busThread;
    QObject* m_busContext;  // lives on the bus thread
    QObject m_home;         // the caller's thread, where failures are reported
};

}  // namespace

std::unique_ptr<Notifications> CreateSessionNotifications() {
    return std::make_unique<SessionNotifications>();
}

}  // namespace kw
