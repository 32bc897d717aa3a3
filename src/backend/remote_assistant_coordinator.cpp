#include "backend/remote_assistant_coordinator.h"

#include "backend/environment_store.h"
#include "backend/guidance_service.h"
#include "backend/session_controller.h"
#include "foundation/logging.h"

#include <QPointer>

#include <cmath>

namespace zapum {

RemoteAssistantTimings remoteAssistantTimingsFromEnvironment()
{
    RemoteAssistantTimings timings;
    const QString text = qEnvironmentVariable("ZAPUM_COMMAND_POLL_SECONDS").trimmed();
    if (text.isEmpty())
        return timings;
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.1 || seconds > 24 * 3600) {
        qCWarning(lcBackend).noquote() << "ignoring ZAPUM_COMMAND_POLL_SECONDS: not a number of seconds from 0.1 to 86400";
        return timings;
    }
    timings.pollInterval = std::chrono::milliseconds(std::llround(seconds * 1000.0));
    return timings;
}

RemoteAssistantCoordinator::RemoteAssistantCoordinator(SessionController &sessions, EnvironmentStore &environment,
                                                       GuidanceService &guidance, RemoteAssistantTimings timings,
                                                       QObject *parent)
    : QObject(parent),
      m_sessions(sessions),
      m_environment(environment),
      m_guidance(guidance),
      m_timings(timings),
      m_backend(new BackendClient(timings.http, this))
{
    m_timer.setInterval(m_timings.pollInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] { (void)tick(); });
    connect(&m_sessions, &SessionController::sessionEstablished, this, &RemoteAssistantCoordinator::startIfNeeded);
    connect(&m_sessions, &SessionController::signedOut, this, &RemoteAssistantCoordinator::stop);
    connect(&m_environment, &EnvironmentStore::remoteHelpSwitched, this, [this](bool paused) {
        if (paused)
            stop();
        else
            startIfNeeded();
    });
}

std::optional<QUrl> RemoteAssistantCoordinator::pollRoot() const
{
    // Only a session made against a backend polls, and only that backend: a local identity has
    // nobody to ask.
    const std::optional<ZaPumUserSession> &user = m_sessions.session();
    if (!user || !user->apiBaseURL || m_environment.isPaused())
        return std::nullopt;
    return parseApiRoot(*user->apiBaseURL);
}

void RemoteAssistantCoordinator::startIfNeeded()
{
    m_timer.stop();
    if (pollRoot())
        m_timer.start();
}

void RemoteAssistantCoordinator::stop()
{
    m_timer.stop();
}

QCoro::Task<void> RemoteAssistantCoordinator::tick()
{
    const std::optional<QUrl> root = pollRoot();
    if (!root)
        co_return;

    QPointer<RemoteAssistantCoordinator> self(this);
    const HttpResult reply =
        co_await m_backend->send(BackendCall::get(*root, backend_paths::kCommands, m_sessions.session()->accessToken));
    if (!self)
        co_return;
    if (!reply) {
        qCDebug(lcBackend).noquote() << "command poll failed:" << reply.failure().message;
        co_return;
    }
    if (!isSuccessStatus(reply.value().status))
        co_return;
    if (const std::optional<Wire> wire = Wire::decode(reply.value().body))
        apply(*wire);
}

bool RemoteAssistantCoordinator::apply(const Wire &wire)
{
    // Commands for another account (or for nobody, after a sign-out mid-poll) are not ours to run.
    if (!m_sessions.session() || (wire.userId && !m_sessions.canAcceptSaaSCommand(*wire.userId)))
        return false;
    for (const DesktopCommand &command : wire.commands) {
        if (command.type != QLatin1String("push-guidance") || !command.payload)
            continue;
        const Result<GuidanceSession> guidance = GuidanceSession::fromJson(*command.payload);
        if (!guidance)
            continue;
        m_guidance.showPushed(guidance.value());
    }
    return true;
}

}  // namespace zapum
