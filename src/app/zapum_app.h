#pragma once

#include <QObject>
#include <QString>

#include "app/app_delegate.h"

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

class QMenu;
class QQmlEngine;
class QSystemTrayIcon;
class QUrl;

namespace zapum {

class ActionModeStore;
class AnthropicVoiceAgent;
class AppDelegate;
class AppNotifications;
class AccountViewModel;
class AskService;
class AudioOutput;
class AuthClient;
class BeeViewModel;
class BrowserAuthCoordinator;
class ClickConfirmToast;
class CompanionManager;
class ElevenLabsTTS;
class EnvironmentStore;
class GlobalHotkeyService;
class GuidancePopoverHost;
class GuidancePopoverModel;
class GuidanceService;
class InstanceChannel;
class KeychainHelper;
class LoginItem;
class MemoryService;
class OnboardingManager;
class QmlWindow;
class RemoteAssistantCoordinator;
class SecretStore;
class SessionController;
class SettingsStorage;
class SettingsViewModel;
class StartAtLoginStore;
class StatusMenu;
class UrlOpener;
class VoiceAmplitudePublisher;
class VoiceCaptureService;
class VoiceKeychain;
class VoiceSession;
class VoiceSettingsStore;
struct DesktopBackends;

// What the talk items, the bee's push-to-talk and the hold-to-talk hotkey reach: the voice
// session's operations. Without them those controls do nothing.
struct VoiceControls {
    std::function<void()> beginListening;
    std::function<void()> finishListeningAndAct;
    std::function<void()> cancelListening;
    std::function<void()> togglePushToTalk;
};

// The composition root: builds every store and service once, in dependency order, and hands each
// its collaborators. Nothing else in the app constructs a service.
class ZaPumApp : public QObject {
    Q_OBJECT
public:
    explicit ZaPumApp(QObject *parent = nullptr);
    ~ZaPumApp() override;

    SettingsStorage &settings() { return *m_settings; }
    VoiceSettingsStore &voiceSettings() { return *m_voiceSettings; }
    VoiceKeychain &voiceKeychain() { return *m_voiceKeychain; }
    AnthropicVoiceAgent &voiceAgent() { return *m_voiceAgent; }
    VoiceAmplitudePublisher &amplitude() { return *m_amplitude; }
    VoiceCaptureService &voiceCapture() { return *m_voiceCapture; }
    ElevenLabsTTS &speech() { return *m_speech; }
    ClickConfirmToast &clickToast() { return *m_clickToast; }
    GlobalHotkeyService &hotkey() { return *m_hotkey; }
    ActionModeStore &actionMode() { return *m_actionMode; }
    EnvironmentStore &environment() { return *m_environment; }
    SessionController &sessions() { return *m_sessions; }
    GuidanceService &guidance() { return *m_guidance; }
    AskService &ask() { return *m_ask; }
    MemoryService &memory() { return *m_memory; }
    CompanionManager &companion() { return *m_companion; }
    OnboardingManager &onboarding() { return *m_onboarding; }
    QmlWindow &accountPanel() { return *m_accountPanel; }
    QmlWindow &settingsWindow() { return *m_settingsWindow; }
    StartAtLoginStore &startAtLogin() { return *m_startAtLogin; }
    bool secretsInFallbackFile() const { return !m_secretsFallbackPath.isEmpty(); }

    VoiceSession &voiceSession() { return *m_voiceSession; }
    // What the talk items, the bee and the hotkey call (the voice session's operations; tests may
    // put recorders in their place).
    void setVoiceControls(VoiceControls controls) { m_voiceControls = std::move(controls); }

    // Shows the status item (or, without a tray, says how to reach its menu), starts listening
    // for sign-in callbacks and runs the launch sequence.
    void start(InstanceChannel *callbacks, LaunchKind launch = LaunchKind::Interactive);

    void openSettings();
    void presentAccountPanel();
    // The status menu's "Refresh guidance": only a successful fetch moves the last-sync time.
    QCoro::Task<void> refreshGuidanceFromMenu();
    void centerAboveDock();
    // Every URL the desktop hands us (the browser's sign-in callback).
    void handleUrl(const QUrl &url);

private:
    void buildCompanion();
    void buildWindows();
    void buildStatusItem();
    void feedPopover();
    void updateTrayIcon();
    void callVoice(const std::function<void()> &operation) const;

    std::unique_ptr<SettingsStorage> m_settings;
    std::unique_ptr<SecretStore> m_secrets;
    QString m_secretsFallbackPath;
    std::unique_ptr<VoiceKeychain> m_voiceKeychain;
    std::unique_ptr<KeychainHelper> m_sessionKeychain;
    VoiceSettingsStore *m_voiceSettings = nullptr;
    AnthropicVoiceAgent *m_voiceAgent = nullptr;

    std::unique_ptr<DesktopBackends> m_desktop;
    ActionModeStore *m_actionMode = nullptr;
    VoiceAmplitudePublisher *m_amplitude = nullptr;
    VoiceCaptureService *m_voiceCapture = nullptr;
    std::unique_ptr<AudioOutput> m_audioOutput;
    ElevenLabsTTS *m_speech = nullptr;
    std::unique_ptr<QQmlEngine> m_engine;
    ClickConfirmToast *m_clickToast = nullptr;
    GlobalHotkeyService *m_hotkey = nullptr;

    std::unique_ptr<UrlOpener> m_urlOpener;
    EnvironmentStore *m_environment = nullptr;
    AuthClient *m_auth = nullptr;
    BrowserAuthCoordinator *m_browserAuth = nullptr;
    SessionController *m_sessions = nullptr;
    GuidanceService *m_guidance = nullptr;
    AskService *m_ask = nullptr;
    MemoryService *m_memory = nullptr;
    RemoteAssistantCoordinator *m_remote = nullptr;
    VoiceSession *m_voiceSession = nullptr;

    AppNotifications *m_notifications = nullptr;
    BeeViewModel *m_beeView = nullptr;
    CompanionManager *m_companion = nullptr;
    GuidancePopoverModel *m_popover = nullptr;
    GuidancePopoverHost *m_popoverHost = nullptr;
    OnboardingManager *m_onboarding = nullptr;

    AccountViewModel *m_accountView = nullptr;
    std::unique_ptr<QmlWindow> m_accountPanel;
    SettingsViewModel *m_settingsView = nullptr;
    std::unique_ptr<QmlWindow> m_settingsWindow;
    std::unique_ptr<LoginItem> m_loginItem;
    StartAtLoginStore *m_startAtLogin = nullptr;

    StatusMenu *m_statusMenu = nullptr;
    QSystemTrayIcon *m_tray = nullptr;
    AppDelegate *m_delegate = nullptr;
    VoiceControls m_voiceControls;
};

// The whole program: hands a callback URL to a running instance, or checks the desktop, builds
// the app and runs the main loop.
int runZaPum(int argc, char *argv[]);

}  // namespace zapum
