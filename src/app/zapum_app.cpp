#include "app/zapum_app.h"

#include "app/status_icon.h"
#include "foundation/cached_secret_store.h"
#include "foundation/logging.h"
#include "foundation/settings_storage.h"
#include "platform/desktop_environment.h"
#include "platform/secret_store.h"
#include "voice/anthropic_voice_agent.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdio>

namespace zapum {

ZaPumApp::ZaPumApp(QObject *parent) : QObject(parent)
{
    m_settings = std::make_unique<SettingsStorage>();

    SecretStoreChoice secrets = openSecretStore();
    m_secretsInFallbackFile = secrets.usingFallbackFile;
    m_secrets = std::make_unique<CachedSecretStore>(
        std::move(secrets.store), QStringList{kAnthropicAccount, kElevenLabsAccount, kSessionAccount});
    m_voiceKeychain = std::make_unique<VoiceKeychain>(*m_secrets);
    m_sessionKeychain = std::make_unique<KeychainHelper>(*m_secrets);

    m_voiceSettings = new VoiceSettingsStore(*m_settings, *m_voiceKeychain, this);
    m_voiceAgent = new AnthropicVoiceAgent(AnthropicVoiceAgent::baseUrlFromEnvironment(),
                                           AnthropicVoiceAgent::defaultTimeouts(), this);
}

ZaPumApp::~ZaPumApp() = default;

void ZaPumApp::showStatusItem()
{
    m_menu = std::make_unique<QMenu>();
    QAction *quit = m_menu->addAction(QStringLiteral("Quit ZaPum"));
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);

    m_tray = new QSystemTrayIcon(statusIcon(StatusDot::None), this);
    m_tray->setToolTip(QStringLiteral("ZaPum"));
    m_tray->setContextMenu(m_menu.get());
    m_tray->show();
    qCInfo(lcApp) << "status item shown";
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qCInfo(lcApp) << "no system tray on this desktop; the status menu is not shown";
}

int runZaPum(int argc, char *argv[])
{
    if (const auto reason = desktopUnavailableReason()) {
        std::fprintf(stderr, "%s\n", qPrintable(*reason));
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZaPum"));
    QApplication::setOrganizationName(QStringLiteral("ZaPum"));
    QApplication::setDesktopFileName(QStringLiteral("zapum"));
    // The companion lives in the tray and floating panels: closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    auto termination = watchTermination();
    QObject::connect(termination.get(), &TerminationWatcher::terminationRequested, &application,
                     [](int) { QCoreApplication::quit(); });

    ZaPumApp app;
    app.showStatusItem();
    return QApplication::exec();
}

}  // namespace zapum
