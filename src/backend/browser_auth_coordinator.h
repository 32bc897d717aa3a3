#pragma once

#include "backend/backend_request.h"
#include "backend/user_session.h"
#include "foundation/failure.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace zapum {

class EnvironmentStore;
class UrlOpener;

enum class CoordinatorError { Server, AlreadyInProgress, StateMismatch, MissingCode, Cancelled, InvalidResponse };

// `status` and `message` only matter for Server: "ZaPum server error 400: <message>" or "… 500.".
QString coordinatorErrorMessage(CoordinatorError error, int status = 0, const QString &message = {});
// Domain "ZaPum"; the code is the HTTP status for Server, else 0.
Failure coordinatorFailure(CoordinatorError error, int status = 0, const QString &message = {});

struct BrowserAuthTimings {
    std::chrono::milliseconds handoffTimeout{std::chrono::seconds(180)};
    HttpTimeouts http{std::chrono::seconds(25), std::chrono::seconds(45)};
};

class PendingHandoff;

// Browser sign-in: opens the web sign-in page with a one-time random state, waits for the browser
// to come back through zapum://auth/callback, and trades the pairing code for a session. At most one
// handoff is pending; it ends with the callback, a cancel, or the watchdog.
class BrowserAuthCoordinator : public QObject {
    Q_OBJECT
public:
    static inline const QString kCallbackUrl = QStringLiteral("zapum://auth/callback");
    static inline const QString kDefaultWebBase = QStringLiteral("http://localhost:3100");

    BrowserAuthCoordinator(UrlOpener &opener, const EnvironmentStore &environment,
                           BrowserAuthTimings timings = {}, QObject *parent = nullptr);
    ~BrowserAuthCoordinator() override;

    // Opens the page and resumes with the callback URL, or fails with AlreadyInProgress,
    // InvalidResponse (no URL can be made of the web base) or Cancelled (cancel, time-out).
    QCoro::Task<Result<QUrl>> beginHandoff(QString webBaseURL);
    // Checks the callback against the pending state and exchanges its code. Transport failures
    // (and the https rule's refusal) come back unchanged.
    QCoro::Task<Result<ZaPumUserSession>> exchangeCode(QUrl callback, QString apiBase);

    // Every URL the desktop hands to the app. Any zapum: URL completes a pending handoff; anything
    // else, or anything with nothing pending, is ignored.
    void handleCallback(const QUrl &url);
    void cancelPendingSignIn();

    bool isPending() const { return !m_pending.isNull(); }

    // 16 bytes from the system's secure random source as 32 lower-case hex digits.
    static QString makeRandomState();
    // The web base (default kDefaultWebBase) with "/desktop/link" appended to its path and a query
    // of exactly state and redirect.
    static Result<QUrl> buildLinkURL(const QString &webBaseURL, const QString &state, const QString &redirect);

private:
    void timeoutPendingSignIn(PendingHandoff *handoff);
    void finishPending(Result<QUrl> outcome);
    Result<QUrl> apiBaseURL(const QString &apiBase) const;

    UrlOpener &m_opener;
    const EnvironmentStore &m_environment;
    BrowserAuthTimings m_timings;
    BackendClient *m_backend;
    std::optional<QString> m_pendingState;
    QPointer<PendingHandoff> m_pending;
};

}  // namespace zapum
