#include "app/zapum_app.h"

#include "app/app_delegate.h"
#include "app/app_notifications.h"
#include "app/command_line.h"
#include "app/instance_channel.h"
#include "app/start_at_login_store.h"
#include "app/status_icon.h"
#include "app/status_menu.h"
#include "backend/ask_service.h"
#include "backend/auth_client.h"
#include "backend/browser_auth_coordinator.h"
#include "backend/environment_store.h"
#include "backend/guidance_service.h"
#include "backend/memory_service.h"
#include "backend/remote_assistant_coordinator.h"
#include "backend/session_controller.h"
#include "companion/bee_view_model.h"
#include "companion/companion_geometry.h"
#include "companion/companion_manager.h"
#include "companion/onboarding_manager.h"
#include "desktop/action_mode_store.h"
#include "desktop/click_confirm_toast.h"
#include "foundation/cached_secret_store.h"
#include "foundation/logging.h"
#include "foundation/settings_storage.h"
#include "platform/audio_output.h"
#include "platform/desktop_backends.h"
#include "platform/desktop_environment.h"
#include "platform/escape_key_watcher.h"
#include "platform/floating_panel.h"
#include "platform/login_item.h"
#include "platform/modifier_key_source.h"
#include "platform/screen_idle_watcher.h"
#include "platform/secret_store.h"
#include "platform/url_opener.h"
#include "ui/account_view_model.h"
#include "ui/guidance_popover_host.h"
#include "ui/guidance_popover_model.h"
#include "ui/qml_window.h"
#include "ui/settings_view_model.h"
#include "voice/anthropic_voice_agent.h"
#include "voice/eleven_labs_tts.h"
#include "voice/global_hotkey_service.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/recognition_context.h"
#include "voice/voice_capture_service.h"
#include "voice/voice_keychain.h"
#include "voice/voice_session.h"
#include "voice/voice_session_wiring.h"
#include "voice/voice_settings_store.h"

#include <QApplication>
#include <QClipboard>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickView>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <cstdio>

namespace zapum {

namespace {

// Right-clicking the bee opens the status menu: the same actions as the tray, and the only way to
// reach them on a desktop without a system tray.
class ContextMenuOnRightClick : public QObject {
public:
    ContextMenuOnRightClick(QMenu &menu, QObject *parent) : QObject(parent), m_menu(menu) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::RightButton) {
                m_menu.popup(mouse->globalPosition().toPoint());
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QMenu &m_menu;
};

PopoverGuidance popoverGuidanceFrom(const GuidanceSession &session)
{
    PopoverGuidance guidance{session.title, session.subtitle, {}, session.primaryActionLabelText(),
                             session.primaryActionURLText()};
    for (const GuidanceStep &step : session.steps)
        guidance.steps.append({step.id, step.title, step.detailText(), step.isDone});
    return guidance;
}

}  // namespace

ZaPumApp::ZaPumApp(QObject *parent) : QObject(parent)
{
    m_settings = std::make_unique<SettingsStorage>();

    SecretStoreChoice secrets = openSecretStore();
    m_secretsFallbackPath = secrets.fallbackPath;
    m_secrets = std::make_unique<CachedSecretStore>(
        std::move(secrets.store), QStringList{kAnthropicAccount, kElevenLabsAccount, kSessionAccount});
    m_voiceKeychain = std::make_unique<VoiceKeychain>(*m_secrets);
    m_sessionKeychain = std::make_unique<KeychainHelper>(*m_secrets);

    m_voiceSettings = new VoiceSettingsStore(*m_settings, *m_voiceKeychain, this);
    m_voiceAgent = new AnthropicVoiceAgent(AnthropicVoiceAgent::baseUrlFromEnvironment(),
                                           AnthropicVoiceAgent::defaultTimeouts(), this);

    m_desktop = std::make_unique<DesktopBackends>(openDesktopBackends());
    m_actionMode = new ActionModeStore(*m_settings, *m_desktop->windowServer, *m_desktop->workspace,
                                       *m_desktop->screenCapture, *m_desktop->inputSynthesizer, {}, this);
    m_amplitude = new VoiceAmplitudePublisher(this);
    m_voiceCapture = new VoiceCaptureService(*m_amplitude, {}, {}, this);
    // The recogniser is most of the app's memory; it is held only while the voice mode is on, and
    // loaded as soon as it is, so that the first hold of the talk key does not wait for it.
    const auto followVoiceMode = [this] {
        if (m_voiceSettings->isEnabled())
            m_voiceCapture->load();
        else
            m_voiceCapture->unload();
    };
    followVoiceMode();
    connect(m_voiceSettings, &VoiceSettingsStore::isEnabledChanged, m_voiceCapture, followVoiceMode);
    // Recognition expects the names the model is about to see: the same snapshots, taken afresh.
    m_voiceCapture->setContextProvider([this] {
        if (!m_voiceSettings->listenForScreenNames())
            return QStringList();
        m_actionMode->refreshWindowsAndApps();
        return recognition_context::vocabulary(m_actionMode->runningApps(), m_actionMode->windows());
    });
    m_audioOutput = createAudioOutput();
    m_speech = new ElevenLabsTTS(*m_amplitude, *m_audioOutput, ElevenLabsTTS::baseUrlFromEnvironment(), {}, this);
    m_engine = std::make_unique<QQmlEngine>();
    m_clickToast = new ClickConfirmToast(createEscapeKeyWatcher(), m_engine.get(), {}, this);
    m_hotkey = new GlobalHotkeyService(createModifierKeySource(), {}, this);
    m_hotkey->setTriggerKeyCode(m_voiceSettings->talkKey());
    m_hotkey->setOnPress([this] { m_voiceCapture->prepareContext(); });
    connect(m_voiceSettings, &VoiceSettingsStore::talkKeyChanged, m_hotkey,
            [this] { m_hotkey->setTriggerKeyCode(m_voiceSettings->talkKey()); });

    m_urlOpener = makeUrlOpener();
    m_environment = new EnvironmentStore(*m_settings, this);
    m_auth = new AuthClient({}, this);
    m_browserAuth = new BrowserAuthCoordinator(*m_urlOpener, *m_environment, {}, this);
    m_sessions = new SessionController(*m_auth, *m_browserAuth, *m_sessionKeychain, this);
    m_guidance = new GuidanceService(*m_sessions, *m_environment, {}, this);
    m_ask = new AskService(*m_sessions, *m_settings, *m_voiceKeychain, {}, this);
    m_memory = new MemoryService(*m_sessions, *m_environment, {}, this);
    m_remote = new RemoteAssistantCoordinator(*m_sessions, *m_environment, *m_guidance,
                                              remoteAssistantTimingsFromEnvironment(), this);

    m_voiceSession = new VoiceSession({*m_voiceSettings, *m_voiceKeychain, *m_voiceCapture, *m_voiceAgent, *m_speech,
                                       *m_actionMode, *m_desktop->workspace, *m_clickToast, *m_memory, *m_sessions},
                                      {}, this);
    wireVoiceSession(*m_voiceSession, *m_hotkey, *m_ask);
    const QPointer<VoiceSession> voice(m_voiceSession);
    setVoiceControls({[voice] {
                          if (voice)
                              (void)voice->beginListening();
                      },
                      [voice] {
                          if (voice)
                              (void)voice->finishListeningAndAct();
                      },
                      [voice] {
                          if (voice)
                              (void)voice->cancelListening();
                      },
                      [voice] {
                          if (voice)
                              voice->togglePushToTalk();
                      }});

    buildCompanion();
    buildWindows();
}

ZaPumApp::~ZaPumApp()
{
    // Windows first: their QML still points at the stores below.
    m_settingsWindow.reset();
    m_accountPanel.reset();
    delete m_popoverHost;
    delete m_onboarding;
    delete m_companion;
    // Then the services in the reverse order of their making, while the settings, secrets and the
    // QML engine they were handed still exist.
    while (!children().isEmpty())
        delete children().constLast();
}

void ZaPumApp::callVoice(const std::function<void()> &operation) const
{
    if (operation)
        operation();
}

void ZaPumApp::buildCompanion()
{
    m_notifications = new AppNotifications(this);
    BeeModelChoice beeModel = chooseBeeModel(defaultBeeModelPath());
    m_beeView = new BeeViewModel(
        *m_settings, *m_voiceSettings, *m_amplitude, *m_notifications,
        [this] { callVoice(m_voiceControls.togglePushToTalk); }, std::move(beeModel), &desktopPrefersReducedMotion,
        this);
    // Owned by the app: the view model follows it for the rest of the run.
    ScreenIdleWatcher *screenIdle = createScreenIdleWatcher().release();
    screenIdle->setParent(this);
    m_beeView->setScreenIdleWatcher(screenIdle);
    m_companion = new CompanionManager(*m_settings, *m_voiceSettings, *m_notifications, *m_beeView, *m_engine);

    m_popover = new GuidancePopoverModel(
        {[this](const QString &question) { (void)m_ask->ask(question); }, [this] { m_ask->clearResponse(); },
         [this](const QUrl &url) { m_urlOpener->open(url); },
         [](const QString &text) { QGuiApplication::clipboard()->setText(text); }},
        this);
    feedPopover();
    m_popoverHost = new GuidancePopoverHost(*m_beeView, *m_popover, *m_engine,
                                            [this] { return m_companion->beeFrame(); });
    m_onboarding = new OnboardingManager(*m_settings, *m_engine);
}

void ZaPumApp::feedPopover()
{
    const auto guidance = [this] { m_popover->setGuidance(popoverGuidanceFrom(m_guidance->session())); };
    const auto account = [this] { m_popover->setAccount(m_sessions->isSignedIn(), m_sessions->email()); };
    const auto ask = [this] {
        std::optional<PopoverAnswer> answer;
        if (const auto &response = m_ask->lastResponse())
            answer = PopoverAnswer{response->kind == AskResponse::Kind::Error, response->text};
        m_popover->setAskState(m_ask->isWorking(), answer);
    };
    connect(m_guidance, &GuidanceService::sessionChanged, m_popover, guidance);
    connect(m_sessions, &SessionController::sessionChanged, m_popover, account);
    connect(m_ask, &AskService::isWorkingChanged, m_popover, ask);
    connect(m_ask, &AskService::lastResponseChanged, m_popover, ask);
    guidance();
    account();
    ask();
}

void ZaPumApp::buildWindows()
{
    m_accountView = new AccountViewModel(*m_sessions, *m_environment, this);
    QmlWindowSpec account;
    account.source = QUrl(QStringLiteral("qrc:/zapum/ui/AccountPanel.qml"));
    account.title = QStringLiteral("ZaPum account");
    account.size = QSize(440, 400);
    account.minimumSize = account.size;
    account.floating = true;
    account.initialProperties = {{QStringLiteral("account"), QVariant::fromValue<QObject *>(m_accountView)}};
    // A reopened panel starts as a new one: advanced form folded, token field empty.
    m_accountPanel = std::make_unique<QmlWindow>(*m_engine, account, true);
    connect(m_accountPanel.get(), &QmlWindow::closed, m_sessions, &SessionController::accountPanelClosed);
    m_sessions->setAccountPanelHooks({[this] { presentAccountPanel(); }, [this] { m_accountPanel->close(); }});

    m_loginItem = makeLoginItem();
    m_startAtLogin = new StartAtLoginStore(*m_loginItem, this);
    m_onboarding->offerStartAtLogin(m_startAtLogin);

    m_settingsView = new SettingsViewModel(
        *m_settings, *m_environment, *m_guidance, *m_actionMode, *m_voiceSettings, *m_voiceKeychain, *m_notifications,
        m_secretsFallbackPath,
        {[this] { centerAboveDock(); },
         [this] {
             if (m_companion->isVisible() && !m_companion->userChoseFreePosition()) {
                 m_companion->beginPatrolCycle();
                 m_companion->positionNearDock();
             }
         },
         [this] { m_onboarding->show(); }, [this] { callVoice(m_voiceControls.togglePushToTalk); },
         [this](qint32 pid) { m_desktop->workspace->activateApp(pid); }},
        this);
    m_engine->addImageProvider(QStringLiteral("zapumsnapshot"),
                               new SnapshotImageProvider([this] { return m_actionMode->lastSnapshotImage(); }));
    QmlWindowSpec settings;
    settings.source = QUrl(QStringLiteral("qrc:/zapum/ui/SettingsWindow.qml"));
    settings.title = QStringLiteral("ZaPum Settings");
    settings.size = QSize(620, 560);
    settings.minimumSize = QSize(520, 460);
    settings.initialProperties = {
        {QStringLiteral("settings"), QVariant::fromValue<QObject *>(m_settingsView)},
        {QStringLiteral("account"), QVariant::fromValue<QObject *>(m_accountView)},
        {QStringLiteral("environment"), QVariant::fromValue<QObject *>(m_environment)},
        {QStringLiteral("guidance"), QVariant::fromValue<QObject *>(m_guidance)},
        {QStringLiteral("actionMode"), QVariant::fromValue<QObject *>(m_actionMode)},
        {QStringLiteral("voice"), QVariant::fromValue<QObject *>(m_voiceSettings)},
        {QStringLiteral("startAtLogin"), QVariant::fromValue<QObject *>(m_startAtLogin)}};
    m_settingsWindow = std::make_unique<QmlWindow>(*m_engine, settings);
}

void ZaPumApp::start(InstanceChannel *callbacks, LaunchKind launch)
{
    if (callbacks)
        connect(callbacks, &InstanceChannel::urlReceived, this, &ZaPumApp::handleUrl);
    buildStatusItem();

    m_delegate = new AppDelegate(
        {[this] { m_sessions->restore(); }, [this] { m_actionMode->refreshPermissionState(); },
         [this] { return m_sessions->isSignedIn(); }, [this] { m_sessions->presentAccountPanel(); },
         [this] {
             m_companion->setup();
             if (QQuickView *panel = m_companion->panel())
                 panel->installEventFilter(new ContextMenuOnRightClick(*m_statusMenu->menu(), panel));
         },
         [this] { m_companion->show(); }, [this] { m_companion->hide(); }, [this] { return m_onboarding->seen(); },
         [this] { m_onboarding->show(); },
         [this] {
             m_hotkey->setOnStart([this] { callVoice(m_voiceControls.beginListening); });
             m_hotkey->setOnEnd([this] { callVoice(m_voiceControls.finishListeningAndAct); });
             m_hotkey->registerHotkey();
         },
         [this] { callVoice(m_voiceControls.cancelListening); }},
        this);
    connect(m_sessions, &SessionController::sessionChanged, m_delegate, &AppDelegate::sessionChanged);
    m_delegate->applicationDidFinishLaunching(launch);
}

void ZaPumApp::buildStatusItem()
{
    m_statusMenu = new StatusMenu(*m_environment, *m_sessions, *m_actionMode, *m_voiceSettings,
                                  {[this] { m_companion->show(); }, [this] { m_companion->toggle(); },
                                   [this] { centerAboveDock(); }, [this] { (void)refreshGuidanceFromMenu(); },
                                   [this] { callVoice(m_voiceControls.togglePushToTalk); }, [this] { openSettings(); },
                                   [this] { m_onboarding->show(); }, [] { QCoreApplication::quit(); }},
                                  this);
    m_tray = new QSystemTrayIcon(this);
    m_statusMenu->attachTo(*m_tray);
    connect(m_statusMenu, &StatusMenu::changed, this, &ZaPumApp::updateTrayIcon);
    updateTrayIcon();
    m_tray->show();
    qCInfo(lcApp) << "status item shown";
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qCInfo(lcApp) << "no system tray on this desktop; right-click the bee for the status menu";
}

void ZaPumApp::updateTrayIcon()
{
    const StatusDot dot = m_statusMenu->dot();
    m_tray->setIcon(statusIcon(dot));
    const QString label = statusDotLabel(dot);
    m_tray->setToolTip(label.isEmpty() ? QStringLiteral("ZaPum") : QStringLiteral("ZaPum — ") + label);
    qCInfo(lcApp).noquote() << "status menu:" << (m_sessions->isSignedIn() ? "signed in," : "signed out,")
                            << (label.isEmpty() ? QStringLiteral("no dot") : QStringLiteral("dot ") + label);
}

void ZaPumApp::openSettings()
{
    m_settingsWindow->present();
}

void ZaPumApp::presentAccountPanel()
{
    // The launch asks for the panel more than once (the pass itself, then the session's first
    // value); presenting again only raises it, and is not worth another line in the log.
    const bool wasOpen = m_accountPanel->isOpen();
    m_accountPanel->present();
    if (!wasOpen)
        qCInfo(lcApp) << "account panel shown";
}

QCoro::Task<void> ZaPumApp::refreshGuidanceFromMenu()
{
    // The guidance service stamps the sync time on a successful fetch (and remote commands on a
    // pushed document); a refresh that fetched nothing must not claim a sync.
    QPointer<ZaPumApp> self(this);
    co_await m_guidance->refreshFromAPI(m_environment->apiBaseUrl());
    if (!self)
        co_return;
    qCInfo(lcApp) << "guidance refreshed from the menu; last sync:" << qPrintable(m_environment->lastSyncLabel());
}

void ZaPumApp::centerAboveDock()
{
    m_settings->setValue(settings_keys::kPatrolNearDockEnabled, true);
    m_companion->clearFreePosition();
    m_companion->beginPatrolCycle();
    m_companion->positionNearDock();
}

void ZaPumApp::handleUrl(const QUrl &url)
{
    // Only the scheme is looked at here; the coordinator ignores anything while nothing is pending.
    qCInfo(lcApp) << "URL handed over, scheme" << url.scheme();
    m_browserAuth->handleCallback(url);
}

int runZaPum(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QString channelName =
        instanceChannelName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    // The browser starts `zapum URL` for our scheme: hand the URL to the running app and leave,
    // before any window system work.
    const std::optional<QUrl> callback = callbackUrlArgument(arguments);
    if (callback && handOffToRunningInstance(channelName, *callback))
        return 0;

    if (const auto reason = desktopUnavailableReason()) {
        std::fprintf(stderr, "%s\n", qPrintable(*reason));
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZaPum"));
    QApplication::setOrganizationName(QStringLiteral("ZaPum"));
    QApplication::setDesktopFileName(QStringLiteral("zapum"));
    // The bee from the icon theme, where the package (or install-desktop-entry.sh) puts it.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("zapum")));
    // The companion lives in the tray and floating panels: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(QStringLiteral("Fusion"));

    InstanceChannel channel(channelName);
    if (!channel.listen()) {
        std::fprintf(stderr, "ZaPum is already running.\n");
        return 0;
    }

    auto termination = watchTermination();
    QObject::connect(termination.get(), &TerminationWatcher::terminationRequested, &application,
                     [](int) { QCoreApplication::quit(); });

    ZaPumApp app;
    app.start(&channel, parseCommandLine(arguments).atLogin ? LaunchKind::AtLogin : LaunchKind::Interactive);
    return QApplication::exec();
}

}  // namespace zapum
