#include "support/devserver_process.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>

namespace zapum::test {

QString devServerBinary()
{
    return QStringLiteral(ZAPUM_DEVSERVER_BINARY);
}

QJsonObject WireReply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

WireReply sendRequest(const QByteArray &method, const QUrl &url, const QByteArray &body, const Headers &headers,
                      std::chrono::milliseconds timeout)
{
    QNetworkAccessManager network;
    network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QNetworkRequest request(url);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = network.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    WireReply result;
    if (reply->isFinished()) {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
        result.headers = reply->rawHeaderPairs();
    }
    reply->abort();
    delete reply;
    return result;
}

WireReply sendJson(const QByteArray &method, const QUrl &url, const QJsonObject &body, const QString &bearer)
{
    Headers headers{{"Content-Type", "application/json"}};
    if (!bearer.isNull())
        headers.append({"Authorization", "Bearer " + bearer.toUtf8()});
    return sendRequest(method, url, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

bool DevServerProcess::start(const QStringList &arguments)
{
    m_log.clear();
    m_process.start(devServerBinary(),
                    QStringList{QStringLiteral("--api-port"), QStringLiteral("0"), QStringLiteral("--web-port"),
                                QStringLiteral("0"), QStringLiteral("--data"), dataFile(),
                                QStringLiteral("--dev-token-file"), tokenFile()} +
                        arguments);
    static const QRegularExpression ports(QStringLiteral("API  http://localhost:(\\d+).*\\n.*Web  http://localhost:(\\d+)"));
    QRegularExpressionMatch match;
    if (!waitFor([&] { return (match = ports.match(log())).hasMatch(); }, std::chrono::seconds(10)))
        return false;
    m_apiPort = match.captured(1).toInt();
    m_webPort = match.captured(2).toInt();
    return true;
}

QString DevServerProcess::devToken() const
{
    QFile file(tokenFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

QUrl DevServerProcess::api(const QString &path) const
{
    return QUrl(apiBase() + u'/' + path);
}

QUrl DevServerProcess::web(const QString &pathAndQuery) const
{
    return QUrl(webBase() + u'/' + pathAndQuery);
}

} // namespace zapum::test
