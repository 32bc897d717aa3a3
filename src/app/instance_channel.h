#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class QLocalServer;

namespace zapum {

// The zapum: URL a program argument carries, if any: the browser starts `zapum URL` for our
// scheme. Anything else (options, other schemes, text that is no URL) is not one.
std::optional<QUrl> callbackUrlArgument(const QStringList &arguments);

// The local socket name one user's running app listens on. It includes the settings folder, so a
// second app with settings of its own (tests, a second profile) is a separate instance.
QString instanceChannelName(const QString &configDirectory);

// Passes a URL to the app already running for this user, if there is one. True when it took it.
bool handOffToRunningInstance(const QString &channelName, const QUrl &url, int timeoutMs = 2000);

// Listens for URLs from later `zapum URL` processes and hands each over as urlReceived.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    explicit InstanceChannel(QString channelName, QObject *parent = nullptr);
    ~InstanceChannel() override;

    // False when the name is taken by a live instance (or cannot be created).
    bool listen();

Q_SIGNALS:
    void urlReceived(const QUrl &url);

private:
    void acceptConnections();

    QString m_name;
    std::unique_ptr<QLocalServer> m_server;
};

}  // namespace zapum
