#pragma once

#include "backend/backend_request.h"
#include "backend/guidance.h"

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace zapum {

class EnvironmentStore;
class SessionController;

struct GuidanceTimings {
    HttpTimeouts http{std::chrono::seconds(20), std::chrono::seconds(40)};
};

// The guidance checklist: the built-in document until a fetch (or a pushed command) brings the
// user's own; after a failed fetch the built-in one again, with lastError saying why.
class GuidanceService : public QObject {
    Q_OBJECT
    Q_PROPERTY(zapum::GuidanceSession session READ session NOTIFY sessionChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)

public:
    GuidanceService(const SessionController &sessions, EnvironmentStore &environment,
                    GuidanceTimings timings = {}, QObject *parent = nullptr);

    const GuidanceSession &session() const { return m_session; }
    bool isLoading() const { return m_isLoading; }
    std::optional<QString> lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastError.value_or(QString()); }

    // Never fails: the outcome is in the three fields. Without an API base or a signed-in user with
    // a token, the built-in document is shown and nothing is sent.
    QCoro::Task<void> refreshFromAPI(QString apiBase);

    // A document a web product pushed: shown as if it had just been fetched.
    void showPushed(const GuidanceSession &session);

Q_SIGNALS:
    void sessionChanged();
    void isLoadingChanged();
    void lastErrorChanged();

private:
    void setSession(const GuidanceSession &session);
    void setLoading(bool loading);
    void setLastError(std::optional<QString> error);

    const SessionController &m_sessions;
    EnvironmentStore &m_environment;
    BackendClient *m_backend;

    GuidanceSession m_session;
    bool m_isLoading = false;
    std::optional<QString> m_lastError;
};

}  // namespace zapum
