#include "backend/browser_auth_coordinator.h"

#include "backend/environment_store.h"
#include "foundation/logging.h"
#include "platform/url_opener.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>


#include <array>
#include <coroutine>
#include <utility>

namespace zapum {

// One handoff: its own watchdog and the outcome it resumes its waiter with. A watchdog that
// belongs to one handoff can never end a later one. Awaited directly (rather than through a signal
// and QCoro's signal task, whose template coroutine clang's function sanitizer cannot build).
class PendingHandoff : public QObject {
public:
    explicit PendingHandoff(QObject *parent) : QObject(parent)
    {
        watchdog.setSingleShot(true);
        // A coarse timer may fire up to 5 % early: nine seconds off a three-minute sign-in.
        watchdog.setTimerType(Qt::PreciseTimer);
    }

    void finish(Result<QUrl> result)
    {
        watchdog.stop();
        outcome = std::move(result);
        if (waiter)
            std::exchange(waiter, {}).resume();
    }

    struct Awaiter {
        PendingHandoff *handoff;
        bool await_ready() const noexcept { return handoff->outcome.has_value(); }
        void await_suspend(std::coroutine_handle<> handle) noexcept { handoff->waiter = handle; }
        Result<QUrl> await_resume() { return std::move(*handoff->outcome); }
    };
    Awaiter ended() { return Awaiter{this}; }

    QTimer watchdog;

private:
    std::optional<Result<QUrl>> outcome;
    std::coroutine_handle<> waiter;
};

namespace {

QString firstQueryValue(const QUrlQuery &query, const QString &name)
{
    return query.hasQueryItem(name) ? query.queryItemValue(name, QUrl::FullyDecoded) : QString();
}

Failure exchangeFailure(int status, const QByteArray &body)
{
    const QJsonValue error = QJsonDocument::fromJson(body).object().value(QStringLiteral("error"));
    return coordinatorFailure(CoordinatorError::Server, status, error.isString() ? error.toString() : QString());
}

}  // namespace

QString coordinatorErrorMessage(CoordinatorError error, int status, const QString &message)
{
    switch (error) {
    case CoordinatorError::Server:
        return QStringLiteral("ZaPum server error ") + QString::number(status)
               + (message.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + message);
    case CoordinatorError::AlreadyInProgress:
        return QStringLiteral("A sign-in is already in progress. Finish it in your browser.");
    case CoordinatorError::StateMismatch:
        return QStringLiteral("The browser response didn't match this ZaPum sign-in attempt.");
    case CoordinatorError::MissingCode: return QStringLiteral("The browser didn't send a pairing code back.");
    case CoordinatorError::Cancelled: return QStringLiteral("Browser sign-in was cancelled.");
    case CoordinatorError::InvalidResponse: return QStringLiteral("The ZaPum server returned an unexpected response.");
    }
    return {};
}

Failure coordinatorFailure(CoordinatorError error, int status, const QString &message)
{
    return Failure{QLatin1String(kBackendDomain), error == CoordinatorError::Server ? status : 0,
                   coordinatorErrorMessage(error, status, message)};
}

BrowserAuthCoordinator::BrowserAuthCoordinator(UrlOpener &opener, const EnvironmentStore &environment,
                                               BrowserAuthTimings timings, QObject *parent)
    : QObject(parent),
      m_opener(opener),
      m_environment(environment),
      m_timings(timings),
      m_backend(new BackendClient(timings.http, this))
{
}

BrowserAuthCoordinator::~BrowserAuthCoordinator() = default;

QString BrowserAuthCoordinator::makeRandomState()
{
    // The system generator reads the kernel's random source and has no failure to report.
    std::array<quint32, 4> words{};
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    QByteArray bytes;
    for (quint32 word : words) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char((word >> shift) & 0xff));
    }
    return QString::fromLatin1(bytes.toHex());
}

Result<QUrl> BrowserAuthCoordinator::buildLinkURL(const QString &webBaseURL, const QString &state, const QString &redirect)
{
    QString base = webBaseURL.trimmed();
    if (base.isEmpty())
        base = kDefaultWebBase;
    QUrl url(base, QUrl::StrictMode);
    if (!url.isValid())
        return coordinatorFailure(CoordinatorError::InvalidResponse);

    QString path = url.path(QUrl::FullyEncoded);
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/desktop/link"), QUrl::TolerantMode);

    QUrlQuery query;
    query.addQueryItem(QStringLiteral("state"), state);
    query.addQueryItem(QStringLiteral("redirect"), redirect);
    url.setQuery(query);
    if (!url.isValid())
        return coordinatorFailure(CoordinatorError::InvalidResponse);
    return url;
}

QCoro::Task<Result<QUrl>> BrowserAuthCoordinator::beginHandoff(QString webBaseURL)
{
    if (m_pending)
        co_return coordinatorFailure(CoordinatorError::AlreadyInProgress);

    const QString state = makeRandomState();
    const Result<QUrl> link = buildLinkURL(webBaseURL, state, kCallbackUrl);
    if (!link)
        co_return link.failure();

    m_pendingState = state;
    auto *handoff = new PendingHandoff(this);
    m_pending = handoff;
    connect(&handoff->watchdog, &QTimer::timeout, this, [this, handoff] { timeoutPendingSignIn(handoff); });
    handoff->watchdog.start(m_timings.handoffTimeout);
    // Whether a browser actually started is not knowable in general; the watchdog covers it.
    if (!m_opener.open(link.value()))
        qCWarning(lcBackend) << "no handler opened the sign-in page";

    // The handoff is our child: while it is alive, so are we.
    Result<QUrl> outcome = co_await handoff->ended();
    handoff->deleteLater();
    co_return outcome;
}

void BrowserAuthCoordinator::handleCallback(const QUrl &url)
{
    if (url.scheme().toLower() != QLatin1String("zapum"))
        return;
    finishPending(url);
}

void BrowserAuthCoordinator::cancelPendingSignIn()
{
    if (!m_pending)
        return;
    m_pendingState.reset();
    finishPending(coordinatorFailure(CoordinatorError::Cancelled));
}

void BrowserAuthCoordinator::timeoutPendingSignIn(PendingHandoff *handoff)
{
    if (m_pending != handoff)
        return;
    qCInfo(lcBackend) << "browser sign-in timed out";
    cancelPendingSignIn();
}

void BrowserAuthCoordinator::finishPending(Result<QUrl> outcome)
{
    // Taken before resuming, so callback, cancel and watchdog can never resume the waiter twice.
    PendingHandoff *handoff = std::exchange(m_pending, nullptr).data();
    if (handoff)
        handoff->finish(std::move(outcome));
}

Result<QUrl> BrowserAuthCoordinator::apiBaseURL(const QString &apiBase) const
{
    QString base = apiBase.trimmed();
    if (base.isEmpty())
        base = presetApiBaseUrl(m_environment.current());
    if (auto root = parseApiRoot(base))
        return *root;
    return coordinatorFailure(CoordinatorError::InvalidResponse);
}

QCoro::Task<Result<ZaPumUserSession>> BrowserAuthCoordinator::exchangeCode(QUrl callback, QString apiBase)
{
    if (!callback.isValid())
        co_return coordinatorFailure(CoordinatorError::InvalidResponse);
    const QUrlQuery query(callback);
    const QString code = firstQueryValue(query, QStringLiteral("code"));
    const QString state = firstQueryValue(query, QStringLiteral("state"));
    const QString expected = std::exchange(m_pendingState, std::nullopt).value_or(QString());

    if (code.isEmpty())
        co_return coordinatorFailure(CoordinatorError::MissingCode);
    if (expected.isEmpty() || state != expected)
        co_return coordinatorFailure(CoordinatorError::StateMismatch);
    const Result<QUrl> root = apiBaseURL(apiBase);
    if (!root)
        co_return root.failure();

    const QJsonObject body{{QStringLiteral("code"), code}, {QStringLiteral("state"), state}};
    QPointer<BrowserAuthCoordinator> self(this);
    const HttpResult reply = co_await m_backend->send(BackendCall::post(root.value(), backend_paths::kExchange, body));
    if (!self)
        co_return transportFailure(TransportError::Cancelled);
    if (!reply)
        co_return reply.failure();
    const HttpResponse &response = reply.value();
    if (!isSuccessStatus(response.status))
        co_return exchangeFailure(response.status, response.body);
    if (auto session = ZaPumUserSession::fromJsonBytes(response.body))
        co_return *session;
    co_return coordinatorFailure(CoordinatorError::InvalidResponse);
}

}  // namespace zapum
