#include "support/devserver_process.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>

namespace zapum::test {

QString devServerBinary()
{
    return QStringLiteral(ZAPUM_DEVSERVER_BINARY);
}

QJsonObject WireReply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QByteArray WireReply::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

WireReply sendRequest(const QByteArray &method, const QUrl &url, const QByteArray &body, const RawHeaders &headers,
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
    RawHeaders headers{{"Content-Type", "application/json"}};
    if (!bearer.isNull())
        headers.append({"Authorization", "Bearer " + bearer.toUtf8()});
    return sendRequest(method, url, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

DevServerProcess::DevServerProcess()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, &m_process, [this] { m_output += m_process.readAll(); });
}

DevServerProcess::~DevServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool DevServerProcess::start(const QStringList &arguments)
{
    m_output.clear();
    m_process.start(devServerBinary(),
                    QStringList{QStringLiteral("--api-port"), QStringLiteral("0"), QStringLiteral("--web-port"),
                                QStringLiteral("0"), QStringLiteral("--data"), dataFile(),
                                QStringLiteral("--dev-token-file"), tokenFile()} +
                        arguments);
    static const QRegularExpression api(QStringLiteral("API  http://localhost:(\\d+)"));
    static const QRegularExpression web(QStringLiteral("Web  http://localhost:(\\d+)"));
    QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        const QString text = output();
        const QRegularExpressionMatch apiMatch = api.match(text);
        const QRegularExpressionMatch webMatch = web.match(text);
        if (apiMatch.hasMatch() && webMatch.hasMatch()) {
            m_apiPort = apiMatch.captured(1).toInt();
            m_webPort = webMatch.captured(1).toInt();
            return true;
        }
        m_process.waitForReadyRead(50);
        QCoreApplication::processEvents();
    }
    m_process.waitForFinished(1000);
    m_output += m_process.readAll();
    return false;
}

int DevServerProcess::stop()
{
    // processId() is 0 once the process is gone, and kill(0, …) would hit our own process group.
    if (const qint64 pid = m_process.processId(); pid > 0)
        ::kill(pid_t(pid), SIGTERM);
    if (!m_process.waitForFinished(5000))
        return -1;
    m_output += m_process.readAll();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString DevServerProcess::devToken() const
{
    QFile file(tokenFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

QUrl DevServerProcess::api(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_apiPort) + path);
}

QUrl DevServerProcess::web(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_webPort) + pathAndQuery);
}

} // namespace zapum::test
