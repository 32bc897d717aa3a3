#pragma once

#include <QObject>

#include <functional>

namespace zapum {

// What the launch sequence and the sign-in gate act on. The composition root fills these with the
// real companion, onboarding, hotkey and voice session; tests with recorders.
struct AppDelegateHooks {
    std::function<void()> restoreSession;
    std::function<void()> refreshPermissions;
    std::function<bool()> isSignedIn;
    std::function<void()> presentAccountPanel;
    std::function<void()> setUpCompanion;
    std::function<void()> showCompanion;
    std::function<void()> hideCompanion;
    std::function<bool()> onboardingSeen;
    std::function<void()> showOnboarding;
    // Connects the hotkey's start and end to the voice session and starts watching the key.
    std::function<void()> registerHotkey;
    std::function<void()> cancelListening;
};

// How the app was started: by the person, or by the desktop at log-in. A log-in start brings the
// companion back without opening a window that takes the keyboard: the walkthrough waits for a
// later start or sign-in. Signed out, the account panel still opens, since nothing else would say
// why the bee is missing.
enum class LaunchKind { Interactive, AtLogin };

// Runs the launch sequence and keeps the companion in step with the signed-in state: online while
// a session exists, hidden (with the account panel in front) while none does.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(AppDelegateHooks hooks, QObject *parent = nullptr);

    // Defers the launch pass to the next event-loop turn, so the application is fully up first.
    void applicationDidFinishLaunching(LaunchKind kind = LaunchKind::Interactive);
    // The deferred pass itself: restore, permissions, the current state, the account panel.
    void runLaunchPass();
    // Called with every change of the session (connected by the composition root).
    void sessionChanged();

    void applySessionState(bool signedIn);
    void bringCompanionOnline();
    void tearDownCompanion();


Q_SIGNALS:
    void launchPassFinished();

private:
    AppDelegateHooks m_hooks;
    bool m_companionReady = false;
    bool m_subscribed = false;
    bool m_quietLaunch = false;
};

}  // namespace zapum
