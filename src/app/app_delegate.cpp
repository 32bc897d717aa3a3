#include "app/app_delegate.h"

#include "foundation/logging.h"

#include <QPointer>
#include <QTimer>

namespace zapum {

AppDelegate::AppDelegate(AppDelegateHooks hooks, QObject *parent) : QObject(parent), m_hooks(std::move(hooks)) {}

void AppDelegate::applicationDidFinishLaunching(LaunchKind kind)
{
    m_quietLaunch = kind == LaunchKind::AtLogin;
    QTimer::singleShot(0, this, &AppDelegate::runLaunchPass);
}

void AppDelegate::runLaunchPass()
{
    m_hooks.restoreSession();
    m_hooks.refreshPermissions();
    m_subscribed = true;
    const bool signedIn = m_hooks.isSignedIn();
    applySessionState(signedIn);
    if (!signedIn)
        m_hooks.presentAccountPanel();
    // A subscription also hands over the value current when it was made, one event-loop turn
    // later: with a session that re-shows the companion, without one it brings the panel forward.
    QTimer::singleShot(0, this, [this] {
        applySessionState(m_hooks.isSignedIn());
        m_quietLaunch = false;
        Q_EMIT launchPassFinished();
    });
}

void AppDelegate::sessionChanged()
{
    // Changes before the launch pass (the restore itself) are covered by the pass.
    if (m_subscribed)
        applySessionState(m_hooks.isSignedIn());
}

void AppDelegate::applySessionState(bool signedIn)
{
    if (signedIn) {
        bringCompanionOnline();
        return;
    }
    if (m_companionReady)
        tearDownCompanion();
    if (!m_hooks.isSignedIn())
        m_hooks.presentAccountPanel();
}

void AppDelegate::bringCompanionOnline()
{
    if (m_companionReady) {
        m_hooks.showCompanion();
        return;
    }
    m_hooks.setUpCompanion();
    if (!m_hooks.onboardingSeen()) {
        if (m_quietLaunch)
            qCInfo(lcApp) << "started at log-in: the walkthrough waits for a later start";
        else
            m_hooks.showOnboarding();
    }
    m_hooks.registerHotkey();
    m_companionReady = true;
    qCInfo(lcApp) << "companion online";
}

void AppDelegate::tearDownCompanion()
{
    // The hotkey stays registered: holding the key still reaches the voice session, which
    // refuses politely while nobody is signed in.
    m_hooks.cancelListening();
    m_hooks.hideCompanion();
    qCInfo(lcApp) << "companion hidden";
}

}  // namespace zapum
