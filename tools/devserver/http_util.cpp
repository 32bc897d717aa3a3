#include "http_util.h"

#include <QJsonDocument>

namespace zapum::devserver {

void sendJson(httplib::Response &response, int status, const QJsonObject &body)
{
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void sendError(httplib::Response &response, int status, const QString &message)
{
    sendJson(response, status, QJsonObject{{QStringLiteral("error"), message}});
}

std::optional<QJsonObject> jsonBody(const httplib::Request &request, httplib::Response &response)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &error);
    if (error.error != QJsonParseError::NoError) {
        sendError(response, 400,
                  request.body.empty() ? QStringLiteral("The request needs a JSON object as its body.")
                                       : QStringLiteral("The body is not valid JSON: %1.").arg(error.errorString()));
        return std::nullopt;
    }
    if (!document.isObject()) {
        sendError(response, 400, QStringLiteral("The body must be a JSON object."));
        return std::nullopt;
    }
    return document.object();
}

QString header(const httplib::Request &request, const char *name)
{
    return QString::fromStdString(request.get_header_value(name));
}

bool isLoopbackAuthority(const QString &authority)
{
    QString host = authority.toLower();
    QString port;
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        port = host.mid(close + 1);
        host = host.left(close + 1);
        if (!port.isEmpty() && !port.startsWith(QLatin1Char(':')))
            return false;
        port = port.mid(1);
    } else if (const qsizetype colon = host.indexOf(QLatin1Char(':')); colon >= 0) {
        port = host.mid(colon + 1);
        host = host.left(colon);
    }
    for (const QChar c : port) {
        if (!c.isDigit())
            return false;
    }
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") || host == QLatin1String("[::1]");
}

} // namespace zapum::devserver
