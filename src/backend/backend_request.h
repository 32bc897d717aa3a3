#pragma once

#include "foundation/http_client.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <optional>

namespace zapum {

// Every failure the product backend's clients make up themselves carries this domain.
inline constexpr auto kBackendDomain = "ZaPum";

namespace backend_paths {
inline const QString kSession = QStringLiteral("v1/desktop/session");
inline const QString kExchange = QStringLiteral("v1/desktop/exchange");
inline const QString kGuidance = QStringLiteral("v1/desktop/guidance");
inline const QString kAsk = QStringLiteral("v1/desktop/ask");
inline const QString kMemoryRemember = QStringLiteral("v1/desktop/memory/remember");
inline const QString kMemorySearch = QStringLiteral("v1/desktop/memory/search");
inline const QString kCommands = QStringLiteral("v1/desktop/commands");
}  // namespace backend_paths

// Shown wherever a backend URL would carry a token or pairing code in clear text to another machine.
QString requiresHttpsSentence();
Failure requiresHttpsFailure();
bool isRequiresHttpsFailure(const Failure &failure);

// localhost, 127.0.0.1 or ::1 (with or without brackets); expects a lower-cased host.
bool isLocalHost(const QString &host);

// https to anywhere, http only to this machine. Credentials go out with every backend request, so
// nothing else is allowed to leave.
bool isSecureBackendUrl(const QUrl &url);

// API base text as a URL: trimmed, and absent when empty or not a URL at all.
std::optional<QUrl> parseApiRoot(const QString &text);

// The endpoint path appended to the root as further path components, so a root that has a path of
// its own ("https://host/api") keeps it.
QUrl joinEndpoint(const QUrl &root, const QString &endpoint);

struct BackendCall {
    QByteArray method = "GET";
    QUrl root;
    QString endpoint;
    // Sent as "Authorization: Bearer <token>" when present, even when empty.
    std::optional<QString> bearerToken;
    // Sent as the body with "Content-Type: application/json" when present.
    std::optional<QJsonObject> json;

    static BackendCall post(QUrl root, QString endpoint, QJsonObject json,
                            std::optional<QString> bearerToken = std::nullopt)
    {
        return {"POST", std::move(root), std::move(endpoint), std::move(bearerToken), std::move(json)};
    }
    static BackendCall get(QUrl root, QString endpoint, QString bearerToken)
    {
        return {"GET", std::move(root), std::move(endpoint), std::move(bearerToken), std::nullopt};
    }
};

// The one place that forms backend requests: URL joining, headers, JSON body, the https rule and
// the client's own time-outs. Each backend service owns one with the time-outs of its kind.
class BackendClient : public QObject {
    Q_OBJECT
public:
    explicit BackendClient(HttpTimeouts timeouts, QObject *parent = nullptr);


    // A refused URL fails with requiresHttpsFailure() and sends nothing; otherwise as HttpClient.
    QCoro::Task<HttpResult> send(BackendCall call);

private:
    HttpClient m_http;
};

}  // namespace zapum
