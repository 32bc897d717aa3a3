#pragma once

#include "voice/voice_bee_state.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

namespace zapum {

class SettingsStorage;
class VoiceKeychain;

namespace settings_keys {
inline const QString kVoiceModeEnabled = QStringLiteral("ZaPumVoiceModeEnabled");
inline const QString kVoiceElevenLabsVoiceId = QStringLiteral("ZaPumVoiceElevenLabsVoiceId");
inline const QString kVoiceRequireClickConfirmation = QStringLiteral("ZaPumVoiceRequireClickConfirmation");
inline const QString kVoiceClaudeModel = QStringLiteral("ZaPumVoiceClaudeModel");
inline const QString kVoiceListenForScreenNames = QStringLiteral("ZaPumVoiceListenForScreenNames");
inline const QString kVoiceTalkKeyInterrupts = QStringLiteral("ZaPumVoiceTalkKeyInterrupts");
inline const QString kVoiceTalkKey = QStringLiteral("ZaPumVoiceTalkKey");
}  // namespace settings_keys

// What the voice feature remembers between runs and what the app observes about the current
// conversation. The persisted fields are written at once on every assignment; the live fields
// (bee state, transcript, reply, error) are written only by the voice session.
class VoiceSettingsStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setIsEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(QString elevenLabsVoiceId READ elevenLabsVoiceId WRITE setElevenLabsVoiceId NOTIFY elevenLabsVoiceIdChanged)
    Q_PROPERTY(bool requireClickConfirmation READ requireClickConfirmation WRITE setRequireClickConfirmation NOTIFY requireClickConfirmationChanged)
    Q_PROPERTY(QString claudeModel READ claudeModel WRITE setClaudeModel NOTIFY claudeModelChanged)
    Q_PROPERTY(bool listenForScreenNames READ listenForScreenNames WRITE setListenForScreenNames NOTIFY listenForScreenNamesChanged)
    Q_PROPERTY(bool talkKeyInterrupts READ talkKeyInterrupts WRITE setTalkKeyInterrupts NOTIFY talkKeyInterruptsChanged)
    Q_PROPERTY(bool anthropicKeyPresent READ anthropicKeyPresent WRITE setAnthropicKeyPresent NOTIFY anthropicKeyPresentChanged)
    Q_PROPERTY(bool elevenLabsKeyPresent READ elevenLabsKeyPresent WRITE setElevenLabsKeyPresent NOTIFY elevenLabsKeyPresentChanged)
    Q_PROPERTY(zapum::VoiceBeeState beeState READ beeState NOTIFY beeStateChanged)
    Q_PROPERTY(QString lastTranscript READ lastTranscript NOTIFY lastTranscriptChanged)
    Q_PROPERTY(QString lastAssistantReply READ lastAssistantReply NOTIFY lastAssistantReplyChanged)
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)
    // The modifier key held to talk (a modifier_keys code, one of talkKeyChoices()).
    Q_PROPERTY(int talkKey READ talkKey WRITE setTalkKey NOTIFY talkKeyChanged)

public:
    static inline const QString kDefaultVoiceId = QStringLiteral("EXAVITQu4vr4xnSDxMaL");
    static inline const QString kDefaultClaudeModel = QStringLiteral("claude-sonnet-4-5");
    static const QSet<QString> &legacyClaudeModels();

    VoiceSettingsStore(SettingsStorage &settings, const VoiceKeychain &keychain, QObject *parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    void setIsEnabled(bool value);
    QString elevenLabsVoiceId() const { return m_elevenLabsVoiceId; }
    void setElevenLabsVoiceId(const QString &value);
    bool requireClickConfirmation() const { return m_requireClickConfirmation; }
    void setRequireClickConfirmation(bool value);
    QString claudeModel() const { return m_claudeModel; }
    void setClaudeModel(const QString &value);
    // Whether speech recognition expects the names of the open apps and windows.
    bool listenForScreenNames() const { return m_listenForScreenNames; }
    void setListenForScreenNames(bool value);
    // Holding the talk key cuts the bee off (and a spoken turn waits for a typed answer) rather
    // than the turn being dropped while the bee is busy.
    bool talkKeyInterrupts() const { return m_talkKeyInterrupts; }
    void setTalkKeyInterrupts(bool value);

    bool anthropicKeyPresent() const { return m_anthropicKeyPresent; }
    void setAnthropicKeyPresent(bool value);
    bool elevenLabsKeyPresent() const { return m_elevenLabsKeyPresent; }
    void setElevenLabsKeyPresent(bool value);
    // Re-reads both key flags from the keychain (after the settings window saved or cleared one).
    void refreshKeyFlags();

    VoiceBeeState beeState() const { return m_beeState; }
    void setBeeState(const VoiceBeeState &value);
    QString lastTranscript() const { return m_lastTranscript; }
    void setLastTranscript(const QString &value);
    QString lastAssistantReply() const { return m_lastAssistantReply; }
    void setLastAssistantReply(const QString &value);
    std::optional<QString> lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastError.value_or(QString()); }
    void setLastError(const std::optional<QString> &value);

    quint16 talkKey() const { return m_talkKey; }
    void setTalkKey(int keyCode);  // anything but a talk key choice is the default key

Q_SIGNALS:
    void isEnabledChanged();
    void elevenLabsVoiceIdChanged();
    void requireClickConfirmationChanged();
    void claudeModelChanged();
    void listenForScreenNamesChanged();
    void talkKeyInterruptsChanged();
    void anthropicKeyPresentChanged();
    void elevenLabsKeyPresentChanged();
    void beeStateChanged();
    void lastTranscriptChanged();
    void lastAssistantReplyChanged();
    void lastErrorChanged();
    void talkKeyChanged();

private:
    SettingsStorage &m_settings;
    const VoiceKeychain &m_keychain;

    bool m_isEnabled = false;
    QString m_elevenLabsVoiceId;
    bool m_requireClickConfirmation = true;
    QString m_claudeModel;
    bool m_listenForScreenNames = true;
    bool m_talkKeyInterrupts = true;
    bool m_anthropicKeyPresent = false;
    bool m_elevenLabsKeyPresent = false;
    VoiceBeeState m_beeState;
    QString m_lastTranscript;
    QString m_lastAssistantReply;
    std::optional<QString> m_lastError;
    quint16 m_talkKey = 0;
};

}  // namespace zapum
