#include "backend/auth_client.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QPointer>

namespace zapum {

QString authErrorMessage(AuthError error, int status)
{
    switch (error) {
    case AuthError::Server:
        return QStringLiteral("Server returned HTTP ") + QString::number(status)
               + QStringLiteral(". Check URL and credentials.");
    case AuthError::BadUrl: return QStringLiteral("That API URL doesn\u2019t look valid.");
    case AuthError::RequiresHttps: return requiresHttpsSentence();
    case AuthError::Decoding: return QStringLiteral("Could not read the sign-in response.");
    }
    return {};
}

Failure authFailure(AuthError error, int status)
{
    return Failure{QLatin1String(kBackendDomain), error == AuthError::Server ? status : 0,
                   authErrorMessage(error, status)};
}

AuthClient::AuthClient(AuthClientTimings timings, QObject *parent)
    : QObject(parent), m_backend(new BackendClient(timings.http, this))
{
}

Result<QUrl> AuthClient::validatedAPIRoot(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return authFailure(AuthError::BadUrl);
    if (isSecureBackendUrl(url))
        return url;
    return authFailure(url.scheme().toLower() == QLatin1String("http") ? AuthError::RequiresHttps : AuthError::BadUrl);
}

QString AuthClient::stableUserId(const QString &email)
{
    const QByteArray digest = QCryptographicHash::hash(email.toLower().trimmed().toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(32));
}

std::optional<ZaPumUserSession> AuthClient::readSignInReply(const QByteArray &body, const QString &email,
                                                            const QString &apiBase, const QDateTime &now)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    if (auto full = ZaPumUserSession::fromJson(object))
        return full;

    const QJsonValue userId = object.value(QStringLiteral("userId"));
    const QJsonValue accessToken = object.value(QStringLiteral("accessToken"));
    if (!userId.isString() || !accessToken.isString())
        return std::nullopt;
    return ZaPumUserSession{userId.toString(), email, accessToken.toString(), apiBase, now};
}

QCoro::Task<Result<ZaPumUserSession>> AuthClient::signIn(QString apiBase, QString email, QString token)
{
    const QString base = apiBase.trimmed();
    const QString address = email.trimmed();
    if (address.isEmpty())
        co_return authFailure(AuthError::BadUrl);
    if (base.isEmpty())
        co_return ZaPumUserSession{stableUserId(address), address, token, std::nullopt, QDateTime::currentDateTimeUtc()};

    Result<QUrl> root = validatedAPIRoot(base);
    if (!root)
        co_return root.failure();

    const QJsonObject body{{QStringLiteral("email"), address}, {QStringLiteral("token"), token}};
    QPointer<AuthClient> self(this);
    const HttpResult reply = co_await m_backend->send(BackendCall::post(root.value(), backend_paths::kSession, body));
    if (!self)
        co_return transportFailure(TransportError::Cancelled);
    if (!reply)
        co_return reply.failure();
    if (!isSuccessStatus(reply.value().status))
        co_return authFailure(AuthError::Server, reply.value().status);
    if (auto session = readSignInReply(reply.value().body, address, base, QDateTime::currentDateTimeUtc()))
        co_return *session;
    co_return authFailure(AuthError::Decoding);
}

}  // namespace zapum
