#pragma once

#include "foundation/failure.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace zapum {

// How a request failed before an HTTP status arrived. Each service words these in its own
// sentences; `transportErrorOf` recovers the kind from a Failure.
enum class TransportError {
    TimedOut = 1,
    CannotConnect,
    HostNotFound,
    Tls,
    Cancelled,
    Other,
};

inline constexpr auto kTransportDomain = "Network";

struct HttpTimeouts {
    // Longest wait for the next byte.
    std::chrono::milliseconds idle{std::chrono::seconds(60)};
    // Longest time for the whole exchange, connect to last byte.
    std::chrono::milliseconds total{std::chrono::seconds(120)};
};

using HttpHeaders = QList<QPair<QByteArray, QByteArray>>;

struct HttpRequest {
    QByteArray method = "GET";
    QUrl url;
    HttpHeaders headers;  // sent in this order
    QByteArray body;
    // A per-request cap on the whole exchange; the shorter of this and the client's total wins.
    std::optional<std::chrono::milliseconds> deadline;
    // When set, the body of a 2xx reply is handed over piece by piece as it arrives instead of
    // being collected; the response then carries no body. Other replies keep theirs.
    std::function<void(const QByteArray &)> onBody;
};

struct HttpResponse {
    int status = 0;
    QByteArray body;
    HttpHeaders headers;
};

using HttpResult = Result<HttpResponse>;

inline bool isSuccessStatus(int status) { return status >= 200 && status <= 299; }

std::optional<TransportError> transportErrorOf(const Failure &failure);
Failure transportFailure(TransportError kind, const QString &detail = {});

// The one thin HTTP client. Each outside service owns one, configured with its own time-outs.
// No cookie jar, no cache, no stored credentials: every request stands alone.
class HttpClient : public QObject {
    Q_OBJECT
public:
    explicit HttpClient(HttpTimeouts timeouts, QObject *parent = nullptr);
    ~HttpClient() override;


    // Any HTTP status counts as a response; only failures to get one are Failures.
    QCoro::Task<HttpResult> send(HttpRequest request);

    // Ends every request in flight; their awaiters get TransportError::Cancelled.
    void cancelAll();

private:
    QNetworkReply *start(const HttpRequest &request);
    static HttpResult finish(QNetworkReply *reply);

    HttpTimeouts m_timeouts;
    QNetworkAccessManager *m_network;
};

}  // namespace zapum
