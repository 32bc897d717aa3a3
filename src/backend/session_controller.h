#pragma once

#include "backend/user_session.h"
#include "foundation/failure.h"

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace zapum {

class AuthClient;
class BrowserAuthCoordinator;
class KeychainHelper;

// The account panel belongs to the app shell; the controller only asks for it to be shown or closed
// and hears when the user closed it (accountPanelClosed).
struct AccountPanelHooks {
    std::function<void()> present;
    std::function<void()> close;  // does nothing when the panel is not open
};

// The sentence shown for a failed sign-in of either kind.
QString signInErrorMessage(const Failure &failure);

// Owns the signed-in user: restores the saved session, runs both sign-ins, saves the session in
// the secret store, signs out, and words every sign-in failure.
class SessionController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY sessionChanged)
    Q_PROPERTY(QString email READ email NOTIFY sessionChanged)
    Q_PROPERTY(QString signInError READ signInErrorText NOTIFY signInErrorChanged)
    Q_PROPERTY(bool isBrowserSignInPending READ isBrowserSignInPending NOTIFY isBrowserSignInPendingChanged)

public:
    SessionController(AuthClient &auth, BrowserAuthCoordinator &browser, KeychainHelper &keychain,
                      QObject *parent = nullptr);

    void setAccountPanelHooks(AccountPanelHooks hooks) { m_panel = std::move(hooks); }

    const std::optional<ZaPumUserSession> &session() const { return m_session; }
    bool isSignedIn() const { return m_session.has_value(); }
    QString email() const { return m_session ? m_session->email : QString(); }
    std::optional<QString> signInError() const { return m_signInError; }
    QString signInErrorText() const { return m_signInError.value_or(QString()); }
    bool isBrowserSignInPending() const { return m_isBrowserSignInPending; }

    // Loads the saved session; an item that no longer reads as one is deleted.
    void restore();
    // Neither throws: the outcome is session() or signInError().
    QCoro::Task<void> signIn(QString email, QString token, QString apiBase);
    QCoro::Task<void> signInWithBrowser(QString webBaseURL, QString apiBase);
    void signOut();
    // The last failure no longer applies (the user changed where to sign in).
    void clearSignInError() { setSignInError(std::nullopt); }

    void presentAccountPanel();
    // Called by the app shell when the user closes the panel: a pending browser sign-in ends.
    void accountPanelClosed();

    // Whether commands addressed to this user id may run: signed in as exactly that user.
    bool canAcceptSaaSCommand(const QString &expectedUserId) const;

Q_SIGNALS:
    void sessionChanged();
    void signInErrorChanged();
    void isBrowserSignInPendingChanged();
    // After a restore that found a session and after every successful sign-in (remote commands
    // (re)start on it), and after sign-out (they stop).
    void sessionEstablished();
    void signedOut();

private:
    Status adopt(const ZaPumUserSession &session);
    void setSession(std::optional<ZaPumUserSession> session);
    void setSignInError(std::optional<QString> error);
    void setBrowserSignInPending(bool pending);

    AuthClient &m_auth;
    BrowserAuthCoordinator &m_browser;
    KeychainHelper &m_keychain;
    AccountPanelHooks m_panel;

    std::optional<ZaPumUserSession> m_session;
    std::optional<QString> m_signInError;
    bool m_isBrowserSignInPending = false;
};

}  // namespace zapum
