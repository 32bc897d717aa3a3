#pragma once

#include "backend/backend_request.h"
#include "backend/remote_commands.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace zapum {

class EnvironmentStore;
class GuidanceService;
class SessionController;
struct ZaPumUserSession;

struct RemoteAssistantTimings {
    std::chrono::milliseconds pollInterval{std::chrono::seconds(60)};
    HttpTimeouts http{std::chrono::seconds(15), std::chrono::seconds(30)};
};

// The default timings, with the poll interval shortened when ZAPUM_COMMAND_POLL_SECONDS holds a
// positive number of seconds (at least 0.1): a developer pushing guidance from the local server
// should not wait a minute for it. Anything else in the variable is ignored with a warning.
RemoteAssistantTimings remoteAssistantTimingsFromEnvironment();

// Polls the backend for commands a web product sent to this desktop and carries out the one kind
// it knows, "push-guidance". Polls only while a backend session exists and remote help is not
// paused; every failure is silent and simply waits for the next poll.
class RemoteAssistantCoordinator : public QObject {
    Q_OBJECT
public:
    // Follows the session controller (sign-in starts, sign-out stops) and the pause switch.
    RemoteAssistantCoordinator(SessionController &sessions, EnvironmentStore &environment, GuidanceService &guidance,
                               RemoteAssistantTimings timings = {}, QObject *parent = nullptr);

    // (Re)starts polling when the conditions hold; the first poll comes one interval later.
    void startIfNeeded();
    void stop();
    bool isPolling() const { return m_timer.isActive(); }

    // Carries out a decoded reply; false when it was dropped as another user's.
    bool apply(const Wire &wire);

private:
    std::optional<QUrl> pollRoot() const;
    QCoro::Task<void> tick();

    SessionController &m_sessions;
    EnvironmentStore &m_environment;
    GuidanceService &m_guidance;
    RemoteAssistantTimings m_timings;
    BackendClient *m_backend;
    QTimer m_timer;
};

}  // namespace zapum
