#pragma once

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

namespace zapum {

class EnvironmentStore;
class SessionController;

// "Sign in with token" is offered only with an e-mail that is not blank and a token that is not
// empty, and not while a sign-in is already running. The token is taken exactly as typed.
bool canSignInWithToken(const QString &email, const QString &token, bool isSigningIn);

// What the account view shows and does, in the account panel and in the settings window. The
// session controller does the work; this only reads it and starts its operations.
class AccountViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY sessionChanged)
    Q_PROPERTY(QString email READ email NOTIFY sessionChanged)
    Q_PROPERTY(QString userId READ userId NOTIFY sessionChanged)
    Q_PROPERTY(bool isLocalIdentity READ isLocalIdentity NOTIFY sessionChanged)
    Q_PROPERTY(QString signInError READ signInError NOTIFY signInErrorChanged)
    Q_PROPERTY(bool isBrowserSignInPending READ isBrowserSignInPending NOTIFY isBrowserSignInPendingChanged)
    Q_PROPERTY(bool isSigningIn READ isSigningIn NOTIFY isSigningInChanged)

public:
    AccountViewModel(SessionController &sessions, EnvironmentStore &environment, QObject *parent = nullptr);

    bool isSignedIn() const;
    QString email() const;
    QString userId() const;
    bool isLocalIdentity() const;
    QString signInError() const;
    bool isBrowserSignInPending() const;
    bool isSigningIn() const { return m_signingIn > 0; }

    Q_INVOKABLE bool canSignInWithToken(const QString &email, const QString &token) const
    {
        return zapum::canSignInWithToken(email, token, isSigningIn());
    }
    Q_INVOKABLE void signInWithToken(const QString &email, const QString &token);
    Q_INVOKABLE void signInWithBrowser();
    Q_INVOKABLE void signOut();

Q_SIGNALS:
    void sessionChanged();
    void signInErrorChanged();
    void isBrowserSignInPendingChanged();
    void isSigningInChanged();

private:
    QCoro::Task<void> runTokenSignIn(QString email, QString token, QString apiBase);

    SessionController &m_sessions;
    EnvironmentStore &m_environment;
    int m_signingIn = 0;
};

}  // namespace zapum
