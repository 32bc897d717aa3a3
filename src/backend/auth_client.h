#pragma once

#include "backend/backend_request.h"
#include "backend/user_session.h"
#include "foundation/failure.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>

namespace zapum {

enum class AuthError { Server, BadUrl, RequiresHttps, Decoding };

// The sentence for each case; `status` only matters for Server (-1: no HTTP response).
QString authErrorMessage(AuthError error, int status = -1);
// Domain "ZaPum"; the code is the HTTP status for Server, else 0.
Failure authFailure(AuthError error, int status = -1);

struct AuthClientTimings {
    HttpTimeouts http{std::chrono::seconds(25), std::chrono::seconds(45)};
};

// E-mail and personal-access-token sign-in, or a local identity when no API base is given.
class AuthClient : public QObject {
    Q_OBJECT
public:
    explicit AuthClient(AuthClientTimings timings = {}, QObject *parent = nullptr);

    // Fails with an AuthError failure, or a transport failure unchanged (the session controller
    // words those). The token is used exactly as typed.
    QCoro::Task<Result<ZaPumUserSession>> signIn(QString apiBase, QString email, QString token);

    // `text` already trimmed: https anywhere, http only to this machine, anything else a bad URL.
    static Result<QUrl> validatedAPIRoot(const QString &text);
    // First 32 hex digits of SHA-256 over the trimmed, lower-cased address.
    static QString stableUserId(const QString &email);

    // The 2xx reply: a full session as sent, else the short {userId, accessToken} form completed
    // with what the user typed, else nothing.
    static std::optional<ZaPumUserSession> readSignInReply(const QByteArray &body, const QString &email,
                                                           const QString &apiBase, const QDateTime &now);

private:
    BackendClient *m_backend;
};

}  // namespace zapum
