#pragma once

#include <QObject>

#include <memory>

class QSystemTrayIcon;
class QMenu;

namespace zapum {

class SettingsStorage;
class SecretStore;
class VoiceKeychain;
class KeychainHelper;
class VoiceSettingsStore;
class AnthropicVoiceAgent;

// The composition root: builds every store and service once, in dependency order, and hands each
// its collaborators. Nothing else in the app constructs a service.
class ZaPumApp : public QObject {
    Q_OBJECT
public:
    explicit ZaPumApp(QObject *parent = nullptr);
    ~ZaPumApp() override;

    VoiceSettingsStore &voiceSettings() { return *m_voiceSettings; }
    AnthropicVoiceAgent &voiceAgent() { return *m_voiceAgent; }
    bool secretsInFallbackFile() const { return m_secretsInFallbackFile; }

    void showStatusItem();

private:
    std::unique_ptr<SettingsStorage> m_settings;
    std::unique_ptr<SecretStore> m_secrets;
    bool m_secretsInFallbackFile = false;
    std::unique_ptr<VoiceKeychain> m_voiceKeychain;
    std::unique_ptr<KeychainHelper> m_sessionKeychain;
    VoiceSettingsStore *m_voiceSettings = nullptr;
    AnthropicVoiceAgent *m_voiceAgent = nullptr;

    QSystemTrayIcon *m_tray = nullptr;
    std::unique_ptr<QMenu> m_menu;
};

// The whole program: checks the desktop, builds the app and runs the main loop.
int runZaPum(int argc, char *argv[]);

}  // namespace zapum
