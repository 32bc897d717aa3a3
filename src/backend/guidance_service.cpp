#include "backend/guidance_service.h"

#include "backend/environment_store.h"
#include "backend/session_controller.h"

#include <QDateTime>
#include <QPointer>

namespace zapum {

GuidanceService::GuidanceService(const SessionController &sessions, EnvironmentStore &environment,
                                 GuidanceTimings timings, QObject *parent)
    : QObject(parent),
      m_sessions(sessions),
      m_environment(environment),
      m_backend(new BackendClient(timings.http, this)),
      m_session(MockGuidance::session())
{
}

QCoro::Task<void> GuidanceService::refreshFromAPI(QString apiBase)
{
    const std::optional<QUrl> root = parseApiRoot(apiBase);
    const std::optional<ZaPumUserSession> &user = m_sessions.session();
    if (!root || !user || user->accessToken.isEmpty()) {
        setSession(MockGuidance::session());
        setLastError(std::nullopt);
        co_return;
    }

    setLoading(true);
    setLastError(std::nullopt);

    QPointer<GuidanceService> self(this);
    const HttpResult reply = co_await m_backend->send(BackendCall::get(*root, backend_paths::kGuidance, user->accessToken));
    if (!self)
        co_return;

    if (!reply) {
        setLastError(reply.failure().message);
        setSession(MockGuidance::session());
    } else if (!isSuccessStatus(reply.value().status)) {
        setLastError(QStringLiteral("Server error fetching guidance"));
        setSession(MockGuidance::session());
    } else if (Result<GuidanceSession> decoded = GuidanceSession::fromJsonBytes(reply.value().body); decoded) {
        setSession(decoded.value());
        m_environment.setLastSyncDate(QDateTime::currentDateTimeUtc());
    } else {
        setLastError(decoded.failure().message);
        setSession(MockGuidance::session());
    }
    setLoading(false);
}

void GuidanceService::showPushed(const GuidanceSession &session)
{
    setSession(session);
    setLastError(std::nullopt);
    m_environment.setLastSyncDate(QDateTime::currentDateTimeUtc());
}

void GuidanceService::setSession(const GuidanceSession &session)
{
    if (m_session == session)
        return;
    m_session = session;
    Q_EMIT sessionChanged();
}

void GuidanceService::setLoading(bool loading)
{
    if (std::exchange(m_isLoading, loading) != loading)
        Q_EMIT isLoadingChanged();
}

void GuidanceService::setLastError(std::optional<QString> error)
{
    if (m_lastError == error)
        return;
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

}  // namespace zapum
