#pragma once

#include "desktop/desktop_records.h"
#include "voice/voice_bee_state.h"

#include <QDateTime>
#include <QObject>
#include <QQuickImageProvider>
#include <QStringList>
#include <QVariantList>

#include <QCoro/QCoroTask>

#include <functional>

namespace zapum {

class ActionModeStore;
class AppNotifications;
class EnvironmentStore;
class GuidanceService;
class SettingsStorage;
class VoiceKeychain;
class VoiceSettingsStore;

// The Voice tab's "Live status" line.
QString voiceStateLabel(const VoiceBeeState &state);
// A key can be saved only when it is more than white space.
bool canSaveApiKey(const QString &input);
// The small print under a window in the Action tab: "PID 42 · layer 0 · 800×600 @ (10, 20)".
QString windowDetailLine(const DesktopWindowInfo &window);
// "Updated 14:05" for the last refresh of windows and apps; empty before the first.
QString windowsRefreshLine(const std::optional<QDateTime> &refreshed);
// "Current: 72 pt".
QString companionSideLine(double side);

// What the settings window does beyond binding straight to a store: the stored values that have no
// store of their own, the key fields, the rows of the Action tab, and the buttons that reach the
// companion, the walkthrough and the voice session.
class SettingsViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(double companionSide READ companionSide WRITE setCompanionSide NOTIFY companionSideChanged)
    Q_PROPERTY(QString companionSideLine READ companionSideText NOTIFY companionSideChanged)
    Q_PROPERTY(bool patrolNearDock READ patrolNearDock WRITE setPatrolNearDock NOTIFY patrolNearDockChanged)
    Q_PROPERTY(QStringList askModelTitles READ askModelTitles CONSTANT)
    Q_PROPERTY(int askModelIndex READ askModelIndex WRITE setAskModelIndex NOTIFY askModelIndexChanged)
    Q_PROPERTY(QString voiceStateLabel READ voiceStateText NOTIFY voiceStateChanged)
    Q_PROPERTY(QVariantList windowRows READ windowRows NOTIFY windowRowsChanged)
    Q_PROPERTY(QVariantList appRows READ appRows NOTIFY appRowsChanged)
    Q_PROPERTY(QString windowsRefreshLine READ windowsRefreshText NOTIFY windowRowsChanged)
    Q_PROPERTY(int snapshotGeneration READ snapshotGeneration NOTIFY snapshotGenerationChanged)
    Q_PROPERTY(bool secretsInFallbackFile READ secretsInFallbackFile CONSTANT)
    Q_PROPERTY(QString secretsFallbackPath READ secretsFallbackPath CONSTANT)
    Q_PROPERTY(QString settingsNote READ settingsNote NOTIFY settingsNoteChanged)
    // The Voice tab's talk key choice, and every line about it, in this desktop's key names.
    Q_PROPERTY(QStringList talkKeyNames READ talkKeyNames CONSTANT)
    Q_PROPERTY(int talkKeyIndex READ talkKeyIndex WRITE setTalkKeyIndex NOTIFY talkKeyChanged)
    Q_PROPERTY(QString holdToTalkLine READ holdToTalkText NOTIFY talkKeyChanged)
    Q_PROPERTY(QString talkHelpLine READ talkHelpText NOTIFY talkKeyChanged)
    Q_PROPERTY(QString talkKeyNote READ talkKeyNoteText NOTIFY talkKeyChanged)
    // The Companion tab's words for where the bee lives.
    Q_PROPERTY(QString strollLabel READ strollLabel CONSTANT)
    Q_PROPERTY(QString centerLabel READ centerLabel CONSTANT)
    Q_PROPERTY(QString placementHelp READ placementHelp CONSTANT)

public:
    // What the buttons reach outside the stores.
    struct Actions {
        std::function<void()> centerAboveDock;
        std::function<void()> patrolTurnedOn;
        std::function<void()> showOnboarding;
        std::function<void()> talkNow;
        // Brings every window of the app with that process id forward.
        std::function<void(qint32 pid)> activateApp;
    };

    SettingsViewModel(SettingsStorage &settings, EnvironmentStore &environment, GuidanceService &guidance,
                      ActionModeStore &actionMode, VoiceSettingsStore &voice, VoiceKeychain &keychain,
                      AppNotifications &notifications, QString secretsFallbackPath, Actions actions,
                      QObject *parent = nullptr);

    double companionSide() const;
    void setCompanionSide(double side);
    QString companionSideText() const { return companionSideLine(companionSide()); }
    bool patrolNearDock() const;
    void setPatrolNearDock(bool on);
    QStringList askModelTitles() const;
    int askModelIndex() const;
    void setAskModelIndex(int index);
    QString voiceStateText() const;
    QVariantList windowRows() const;
    QVariantList appRows() const;
    QString windowsRefreshText() const;
    int snapshotGeneration() const { return m_snapshotGeneration; }
    // Empty while the keyring holds the secrets.
    QString secretsFallbackPath() const { return m_secretsFallbackPath; }
    bool secretsInFallbackFile() const { return !m_secretsFallbackPath.isEmpty(); }
    QString settingsNote() const { return m_settingsNote; }
    QStringList talkKeyNames() const;
    int talkKeyIndex() const;
    void setTalkKeyIndex(int index);
    QString holdToTalkText() const;
    QString talkHelpText() const;
    // Asks the desktop each time, so a layout switched since the last look is seen.
    QString talkKeyNoteText() const;
    QString strollLabel() const;
    QString centerLabel() const;
    QString placementHelp() const;

    Q_INVOKABLE bool canSaveKey(const QString &input) const { return canSaveApiKey(input); }
    // account: "anthropic" or "elevenlabs". True when the key is now stored.
    Q_INVOKABLE bool saveKey(const QString &account, const QString &input);
    Q_INVOKABLE void clearKey(const QString &account);

    Q_INVOKABLE void refreshGuidanceNow();
    Q_INVOKABLE void centerAboveDock();
    Q_INVOKABLE void showOnboarding();
    Q_INVOKABLE void talkNow();
    Q_INVOKABLE void refreshWindowsAndApps();
    Q_INVOKABLE void activateApp(int pid);
    Q_INVOKABLE void openScreenRecordingSettings();
    Q_INVOKABLE void openAccessibilitySettings();

Q_SIGNALS:
    void companionSideChanged();
    void patrolNearDockChanged();
    void askModelIndexChanged();
    void voiceStateChanged();
    void windowRowsChanged();
    void appRowsChanged();
    void snapshotGenerationChanged();
    void settingsNoteChanged();
    void talkKeyChanged();

private:
    void setSettingsNote(const QString &note);

    SettingsStorage &m_settings;
    EnvironmentStore &m_environment;
    GuidanceService &m_guidance;
    ActionModeStore &m_actionMode;
    VoiceSettingsStore &m_voice;
    VoiceKeychain &m_keychain;
    AppNotifications &m_notifications;
    QString m_secretsFallbackPath;
    Actions m_actions;
    int m_snapshotGeneration = 0;
    QString m_settingsNote;
};

// Serves the action mode store's last capture to the settings window as image://zapumsnapshot/N.
class SnapshotImageProvider : public QQuickImageProvider {
public:
    explicit SnapshotImageProvider(std::function<QImage()> snapshot);
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    std::function<QImage()> m_snapshot;
};

}  // namespace zapum
