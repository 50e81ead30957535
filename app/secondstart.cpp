#include "app/secondstart.h"

#include "platform/textcodec.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace kw {
namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShownAnswer[] = "shown\n";
// A request is one short line; anything longer is not ours.
constexpr qint64 kLongestRequest = 64;
constexpr int kConnectRetryMs = 100;

}  // namespace

QString secondStartChannel(const QString& dataFolder) {
    // The folder's bytes, hashed: any name, of any length, gives a short socket name.
    const QByteArray hash =
        QCryptographicHash::hash(encodeLocal(dataFolder), QCryptographicHash::Sha256).toHex();
    return QLatin1String("Kopierwart-") + QString::fromLatin1(hash.left(32));
}

SecondStartListener::SecondStartListener(std::function<void()> show, QObject* parent)
    : QObject(parent), m_show(std::move(show)), m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(m_server, &QLocalServer::newConnection, this, &SecondStartListener::accept);
}

QString SecondStartListener::listen(const QString& channel) {
    return m_server->listen(channel) ? QString() : m_server->errorString();
}

void SecondStartListener::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kLongestRequest)
                    socket->abort();
                return;
            }
            const QByteArray request = socket->readLine(kLongestRequest);
            if (request == kShowRequest) {
                m_show();
                socket->write(kShownAnswer);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}

bool askRunningProgramToShow(const QString& channel, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    // The running program listens once its start-up is done; until then the name is refused.
    for (;;) {
        socket.connectToServer(channel);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(kConnectRetryMs);
    }
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.readLine(kLongestRequest) == kShownAnswer;
}

}  // namespace kw
