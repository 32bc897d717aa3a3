#include "ui/account_view_model.h"

#include "backend/environment_store.h"
#include "backend/session_controller.h"

#include <QPointer>

namespace zapum {

bool canSignInWithToken(const QString &email, const QString &token, bool isSigningIn)
{
    return !email.trimmed().isEmpty() && !token.isEmpty() && !isSigningIn;
}

AccountViewModel::AccountViewModel(SessionController &sessions, EnvironmentStore &environment, QObject *parent)
    : QObject(parent), m_sessions(sessions), m_environment(environment)
{
    connect(&m_sessions, &SessionController::sessionChanged, this, &AccountViewModel::sessionChanged);
    connect(&m_sessions, &SessionController::signInErrorChanged, this, &AccountViewModel::signInErrorChanged);
    connect(&m_sessions, &SessionController::isBrowserSignInPendingChanged, this,
            &AccountViewModel::isBrowserSignInPendingChanged);
    // "Can't reach the server" about one server must not linger under the form once another is chosen.
    for (auto signal : {&EnvironmentStore::currentChanged, &EnvironmentStore::apiBaseUrlChanged})
        connect(&m_environment, signal, &m_sessions, &SessionController::clearSignInError);
}

bool AccountViewModel::isSignedIn() const { return m_sessions.isSignedIn(); }
QString AccountViewModel::email() const { return m_sessions.email(); }
QString AccountViewModel::userId() const { return m_sessions.session() ? m_sessions.session()->userId : QString(); }
bool AccountViewModel::isLocalIdentity() const
{
    return m_sessions.session() && !m_sessions.session()->apiBaseURL.has_value();
}
QString AccountViewModel::signInError() const { return m_sessions.signInErrorText(); }
bool AccountViewModel::isBrowserSignInPending() const { return m_sessions.isBrowserSignInPending(); }

void AccountViewModel::signInWithToken(const QString &email, const QString &token)
{
    if (!canSignInWithToken(email, token))
        return;
    (void)runTokenSignIn(email, token, m_environment.resolvedApiBase());
}

QCoro::Task<void> AccountViewModel::runTokenSignIn(QString email, QString token, QString apiBase)
{
    // Two token sign-ins may overlap (the last to finish wins); the spinner stays until both end.
    ++m_signingIn;
    Q_EMIT isSigningInChanged();
    QPointer<AccountViewModel> self(this);
    co_await m_sessions.signIn(std::move(email), std::move(token), std::move(apiBase));
    if (!self)
        co_return;
    --m_signingIn;
    Q_EMIT isSigningInChanged();
}

void AccountViewModel::signInWithBrowser()
{
    if (m_sessions.isBrowserSignInPending())
        return;
    (void)m_sessions.signInWithBrowser(m_environment.resolvedWebBase(), m_environment.resolvedApiBase());
}

void AccountViewModel::signOut()
{
    m_sessions.signOut();
}

}  // namespace zapum
