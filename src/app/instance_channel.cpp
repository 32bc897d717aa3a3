#include "app/instance_channel.h"

#include "foundation/logging.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <unistd.h>

namespace zapum {

namespace {

// A URL line longer than this is no sign-in callback; stop reading rather than buffer it.
constexpr qint64 kMaxUrlBytes = 8 * 1024;

}  // namespace

std::optional<QUrl> callbackUrlArgument(const QStringList &arguments)
{
    for (const QString &argument : arguments.mid(1)) {
        const QUrl url(argument, QUrl::StrictMode);
        if (url.isValid() && url.scheme().compare(QLatin1String("zapum"), Qt::CaseInsensitive) == 0)
            return url;
    }
    return std::nullopt;
}

QString instanceChannelName(const QString &configDirectory)
{
    const QByteArray digest = QCryptographicHash::hash(configDirectory.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("zapum-%1-%2").arg(::getuid()).arg(QString::fromLatin1(digest.toHex().left(12)));
}

bool handOffToRunningInstance(const QString &channelName, const QUrl &url, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(channelName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(url.toEncoded() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The receiver closes once it has read the line; that is the acknowledgement.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

InstanceChannel::InstanceChannel(QString channelName, QObject *parent)
    : QObject(parent), m_name(std::move(channelName)), m_server(std::make_unique<QLocalServer>())
{
    // Only this user may hand us URLs.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server.get(), &QLocalServer::newConnection, this, &InstanceChannel::acceptConnections);
}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::listen()
{
    // Ask first: with access options set, Qt binds elsewhere and renames the socket into place,
    // which would quietly take the name from a live instance.
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(500))
        return false;
    // Nobody answers: no instance, or a socket file left by one that crashed.
    QLocalServer::removeServer(m_name);
    if (m_server->listen(m_name))
        return true;
    qCWarning(lcApp) << "cannot listen for sign-in callbacks:" << m_server->errorString();
    return false;
}

void InstanceChannel::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMaxUrlBytes)
                    socket->disconnectFromServer();
                return;
            }
            const QByteArray line = socket->readLine(kMaxUrlBytes).trimmed();
            socket->disconnectFromServer();
            const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
            // Not a URL at all: dropped without a word, like any stray message.
            if (url.isValid() && !url.scheme().isEmpty())
                Q_EMIT urlReceived(url);
        });
    }
}

}  // namespace zapum
