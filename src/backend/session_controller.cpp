#include "backend/session_controller.h"

#include "backend/auth_client.h"
#include "backend/browser_auth_coordinator.h"
#include "foundation/http_client.h"
#include "foundation/logging.h"
#include "voice/voice_keychain.h"

#include <QPointer>

namespace zapum {

QString signInErrorMessage(const Failure &failure)
{
    if (const auto kind = transportErrorOf(failure)) {
        switch (*kind) {
        case TransportError::TimedOut: return QStringLiteral("The request timed out. Check the API URL and try again.");
        case TransportError::CannotConnect:
        case TransportError::HostNotFound:
        case TransportError::Tls: return QStringLiteral("Can\u2019t reach the server. Check your network and API URL.");
        case TransportError::Cancelled: return QStringLiteral("Sign-in was cancelled.");
        case TransportError::Other: break;
        }
    }
    if (!failure.message.isEmpty())
        return failure.message;
    return QStringLiteral("Sign-in failed.");
}

SessionController::SessionController(AuthClient &auth, BrowserAuthCoordinator &browser, KeychainHelper &keychain,
                                     QObject *parent)
    : QObject(parent), m_auth(auth), m_browser(browser), m_keychain(keychain)
{
}

void SessionController::restore()
{
    const std::optional<QByteArray> data = m_keychain.load();
    if (!data) {
        setSession(std::nullopt);
        return;
    }
    if (auto session = ZaPumUserSession::fromJsonBytes(*data)) {
        setSession(std::move(session));
        Q_EMIT sessionEstablished();
        return;
    }
    // Deleted so that the next launch starts clean instead of tripping over it again.
    qCWarning(lcBackend) << "the saved session could not be read and was removed";
    m_keychain.remove();
    setSession(std::nullopt);
}

Status SessionController::adopt(const ZaPumUserSession &session)
{
    if (const auto error = m_keychain.save(session.toJsonBytes())) {
        qCWarning(lcBackend) << "could not save the session:" << error->message;
        return Failure{QStringLiteral("Keychain"), error->status,
                       error->message.isEmpty() ? QStringLiteral("Could not save the session.") : error->message};
    }
    setSession(session);
    Q_EMIT sessionEstablished();
    if (m_panel.close)
        m_panel.close();
    return Done{};
}

QCoro::Task<void> SessionController::signIn(QString email, QString token, QString apiBase)
{
    setSignInError(std::nullopt);
    QPointer<SessionController> self(this);
    const Result<ZaPumUserSession> result = co_await m_auth.signIn(apiBase, email, token);
    if (!self)
        co_return;
    const Status adopted = result ? adopt(result.value()) : Status(result.failure());
    if (!adopted)
        setSignInError(signInErrorMessage(adopted.failure()));
}

QCoro::Task<void> SessionController::signInWithBrowser(QString webBaseURL, QString apiBase)
{
    if (m_isBrowserSignInPending)
        co_return;
    setSignInError(std::nullopt);
    setBrowserSignInPending(true);

    QPointer<SessionController> self(this);
    const Result<QUrl> callback = co_await m_browser.beginHandoff(webBaseURL);
    if (!self)
        co_return;
    std::optional<Failure> failure;
    if (!callback) {
        failure = callback.failure();
    } else {
        const Result<ZaPumUserSession> result = co_await m_browser.exchangeCode(callback.value(), apiBase);
        if (!self)
            co_return;
        const Status adopted = result ? adopt(result.value()) : Status(result.failure());
        if (!adopted)
            failure = adopted.failure();
    }
    if (failure)
        setSignInError(signInErrorMessage(*failure));
    setBrowserSignInPending(false);
}

void SessionController::signOut()
{
    setSession(std::nullopt);
    setSignInError(std::nullopt);
    m_keychain.remove();
    Q_EMIT signedOut();
}

void SessionController::presentAccountPanel()
{
    if (m_panel.present)
        m_panel.present();
}

void SessionController::accountPanelClosed()
{
    if (m_isBrowserSignInPending)
        m_browser.cancelPendingSignIn();
}

bool SessionController::canAcceptSaaSCommand(const QString &expectedUserId) const
{
    return m_session && m_session->userId == expectedUserId;
}

void SessionController::setSession(std::optional<ZaPumUserSession> session)
{
    if (m_session == session)
        return;
    m_session = std::move(session);
    Q_EMIT sessionChanged();
}

void SessionController::setSignInError(std::optional<QString> error)
{
    if (m_signInError == error)
        return;
    m_signInError = std::move(error);
    Q_EMIT signInErrorChanged();
}

void SessionController::setBrowserSignInPending(bool pending)
{
    if (std::exchange(m_isBrowserSignInPending, pending) != pending)
        Q_EMIT isBrowserSignInPendingChanged();
}

}  // namespace zapum
