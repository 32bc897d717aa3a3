#include "backend/backend_request.h"

#include "foundation/logging.h"

#include <QJsonDocument>

namespace zapum {
namespace {

// Codes of failures this layer makes up; HTTP statuses use the positive range.
constexpr int kRequiresHttpsCode = -2;

}  // namespace

QString requiresHttpsSentence()
{
    return QStringLiteral("Use https:// for remote APIs. http:// is allowed only for localhost or 127.0.0.1.");
}

Failure requiresHttpsFailure()
{
    return Failure{QLatin1String(kBackendDomain), kRequiresHttpsCode, requiresHttpsSentence()};
}

bool isRequiresHttpsFailure(const Failure &failure)
{
    return failure.domain == QLatin1String(kBackendDomain) && failure.code == kRequiresHttpsCode;
}

bool isLocalHost(const QString &host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1")
           || host == QLatin1String("::1") || host == QLatin1String("[::1]");
}

bool isSecureBackendUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    return scheme == QLatin1String("http") && isLocalHost(url.host().toLower());
}

std::optional<QUrl> parseApiRoot(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QUrl joinEndpoint(const QUrl &root, const QString &endpoint)
{
    QUrl url = root;
    QString path = url.path(QUrl::FullyEncoded);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + endpoint, QUrl::TolerantMode);
    return url;
}

BackendClient::BackendClient(HttpTimeouts timeouts, QObject *parent) : QObject(parent), m_http(timeouts) {}

QCoro::Task<HttpResult> BackendClient::send(BackendCall call)
{
    HttpRequest request;
    request.method = call.method;
    request.url = joinEndpoint(call.root, call.endpoint);
    if (!isSecureBackendUrl(request.url)) {
        qCWarning(lcBackend).noquote() << "refused to send" << call.endpoint << "to"
                                       << request.url.toString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery)
                                       << "without https";
        co_return requiresHttpsFailure();
    }
    if (call.json) {
        request.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
        request.body = QJsonDocument(*call.json).toJson(QJsonDocument::Compact);
    }
    if (call.bearerToken)
        request.headers.append(qMakePair(QByteArray("Authorization"), QByteArray("Bearer ") + call.bearerToken->toUtf8()));
    co_return co_await m_http.send(std::move(request));
}

}  // namespace zapum
