#include "foundation/http_client.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <QCoro/QCoroNetworkReply>

#include <algorithm>

namespace zapum {
namespace {

// Qt reports an idle time-out, our own deadline and a deliberate cancel all as
// OperationCanceledError. We tag the reply when we abort it so the three can be told apart.
constexpr auto kAbortReason = "zapumAbortReason";
constexpr auto kAbortDeadline = "deadline";
constexpr auto kAbortCancel = "cancel";

QString defaultSentence(TransportError kind)
{
    switch (kind) {
    case TransportError::TimedOut: return QStringLiteral("The request timed out.");
    case TransportError::CannotConnect: return QStringLiteral("Could not connect to the server.");
    case TransportError::HostNotFound:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case TransportError::Tls:
        return QStringLiteral("A secure connection to the server could not be made.");
    case TransportError::Cancelled: return QStringLiteral("The request was cancelled.");
    case TransportError::Other: break;
    }
    return QStringLiteral("The network connection failed.");
}

TransportError classify(QNetworkReply *reply)
{
    switch (reply->error()) {
    case QNetworkReply::OperationCanceledError: {
        const QByteArray reason = reply->property(kAbortReason).toByteArray();
        return reason == kAbortCancel ? TransportError::Cancelled : TransportError::TimedOut;
    }
    case QNetworkReply::TimeoutError: return TransportError::TimedOut;
    case QNetworkReply::ConnectionRefusedError:
    // The server or something on the way hung up mid-request: as much a lost network as a refusal.
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError: return TransportError::CannotConnect;
    case QNetworkReply::HostNotFoundError: return TransportError::HostNotFound;
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TooManyRedirectsError:  // not TLS, but equally a refusal to go on
    case QNetworkReply::InsecureRedirectError: return TransportError::Tls;
    default: return TransportError::Other;
    }
}

}  // namespace

std::optional<TransportError> transportErrorOf(const Failure &failure)
{
    if (failure.domain != QLatin1String(kTransportDomain))
        return std::nullopt;
    if (failure.code < int(TransportError::TimedOut) || failure.code > int(TransportError::Other))
        return std::nullopt;
    return static_cast<TransportError>(failure.code);
}

Failure transportFailure(TransportError kind, const QString &detail)
{
    return Failure{QLatin1String(kTransportDomain), int(kind),
                   detail.isEmpty() ? defaultSentence(kind) : detail};
}

HttpClient::HttpClient(HttpTimeouts timeouts, QObject *parent)
    : QObject(parent), m_timeouts(timeouts), m_network(new QNetworkAccessManager(this))
{
    // No disk cache is installed, and cookies are neither sent nor kept (see start()).
    m_network->setCookieJar(nullptr);
}

// Whoever awaits a request must hear back even when the client goes away first.
HttpClient::~HttpClient()
{
    cancelAll();
}

QNetworkReply *HttpClient::start(const HttpRequest &request)
{
    QNetworkRequest req(request.url);
    for (const auto &[name, value] : request.headers)
        req.setRawHeader(name, value);
    req.setTransferTimeout(int(m_timeouts.idle.count()));
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    req.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    req.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    req.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);

    QNetworkReply *reply = request.body.isEmpty() && request.method == "GET"
                               ? m_network->get(req)
                               : m_network->sendCustomRequest(req, request.method, request.body);

    if (request.onBody) {
        connect(reply, &QNetworkReply::readyRead, reply, [reply, onBody = request.onBody] {
            if (isSuccessStatus(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()))
                onBody(reply->readAll());
        });
    }

    const auto total = std::min(m_timeouts.total, request.deadline.value_or(m_timeouts.total));
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply] {
        reply->setProperty(kAbortReason, QByteArray(kAbortDeadline));
        reply->abort();
    });
    deadline->start(total);
    return reply;
}

HttpResult HttpClient::finish(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool aborted = !reply->property(kAbortReason).isNull();
    if (status.isValid() && !aborted) {
        HttpResponse response;
        response.status = status.toInt();
        response.body = reply->readAll();
        response.headers = reply->rawHeaderPairs();
        // A body cut off mid-way is no response at all.
        if (reply->error() != QNetworkReply::NoError && reply->error() < QNetworkReply::ContentAccessDenied)
            return transportFailure(classify(reply), reply->errorString());
        return response;
    }
    const TransportError kind = classify(reply);
    return transportFailure(kind, kind == TransportError::Other ? reply->errorString() : QString());
}

QCoro::Task<HttpResult> HttpClient::send(HttpRequest request)
{
    QPointer<QNetworkReply> reply = start(request);
    co_await reply.data();
    if (!reply)
        co_return transportFailure(TransportError::Cancelled);
    HttpResult result = finish(reply);
    if (request.onBody && result && isSuccessStatus(result.value().status) && !result.value().body.isEmpty())
        request.onBody(std::exchange(result.value().body, {}));
    reply->deleteLater();
    co_return result;
}

void HttpClient::cancelAll()
{
    const auto replies = m_network->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies) {
        if (reply->isRunning()) {
            reply->setProperty(kAbortReason, QByteArray(kAbortCancel));
            reply->abort();
        }
    }
}

}  // namespace zapum
