#include "support/devserver_process.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>

namespace zapum::test {

using namespace Qt::StringLiterals;

QString devServerBinary()
{
    return QStringLiteral(ZAPUM_DEVSERVER_BINARY);
}

WireReply sendRequest(const QByteArray &method, const QUrl &url, const QByteArray &body, const Headers &headers,
                      std::chrono::milliseconds timeout)
{
    // The reply is the manager's child: leaving here aborts and frees one still under way.
    QNetworkAccessManager network;
    network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QNetworkRequest request(url);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = network.sendCustomRequest(request, method, body);
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, int(timeout.count())))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
            reply->rawHeaderPairs()};
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
    m_process.start(devServerBinary(), QStringList{u"--api-port"_s, u"0"_s, u"--web-port"_s, u"0"_s, u"--data"_s,
                                                   dataFile(), u"--dev-token-file"_s, tokenFile()} + arguments);
    static const QRegularExpression ports(u"API  http://localhost:(\\d+).*\\n.*Web  http://localhost:(\\d+)"_s);
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

} // namespace zapum::test
