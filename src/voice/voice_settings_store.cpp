#include "voice/voice_settings_store.h"

#include "foundation/settings_storage.h"
#include "voice/talk_key.h"
#include "voice/voice_keychain.h"

namespace zapum {

using namespace settings_keys;

namespace {

// Reads like the platform's boolForKey: a bool as is, a number as non-zero, a text as a yes-ish word.
bool looseBool(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool();
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong: return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed().toLower();
        return text == QLatin1String("true") || text == QLatin1String("yes")
               || (!text.isEmpty() && text.toDouble() != 0.0);
    }
    default: return false;
    }
}

}  // namespace

const QSet<QString> &VoiceSettingsStore::legacyClaudeModels()
{
    static const QSet<QString> models = {
        QStringLiteral("claude-3-5-sonnet-latest"),
        QStringLiteral("claude-3-5-sonnet-20240620"),
        QStringLiteral("claude-3-opus-latest"),
        QStringLiteral("claude-3-sonnet-latest"),
    };
    return models;
}

VoiceSettingsStore::VoiceSettingsStore(SettingsStorage &settings, const VoiceKeychain &keychain, QObject *parent)
    : QObject(parent), m_settings(settings), m_keychain(keychain)
{
    m_isEnabled = looseBool(m_settings.value(kVoiceModeEnabled));
    m_elevenLabsVoiceId = m_settings.storedText(kVoiceElevenLabsVoiceId).value_or(kDefaultVoiceId);
    m_requireClickConfirmation = m_settings.storedBool(kVoiceRequireClickConfirmation).value_or(true);
    m_listenForScreenNames = m_settings.storedBool(kVoiceListenForScreenNames).value_or(true);
    m_talkKeyInterrupts = m_settings.storedBool(kVoiceTalkKeyInterrupts).value_or(true);

    // Retired model ids are replaced once, and the replacement is written so it sticks; any other
    // stored id, even one the service no longer knows, is the user's choice and stays.
    const QString stored = m_settings.storedText(kVoiceClaudeModel).value_or(kDefaultClaudeModel);
    m_claudeModel = legacyClaudeModels().contains(stored) ? kDefaultClaudeModel : stored;
    if (m_claudeModel != stored)
        m_settings.setValue(kVoiceClaudeModel, m_claudeModel);

    m_anthropicKeyPresent = m_keychain.hasKey(kAnthropicAccount);
    m_elevenLabsKeyPresent = m_keychain.hasKey(kElevenLabsAccount);
    m_talkKey = talkKeyFromRawValue(m_settings.storedText(kVoiceTalkKey).value_or(QString()));
}

void VoiceSettingsStore::setIsEnabled(bool value)
{
    m_settings.setValue(kVoiceModeEnabled, value);
    if (std::exchange(m_isEnabled, value) != value)
        Q_EMIT isEnabledChanged();
}

void VoiceSettingsStore::setElevenLabsVoiceId(const QString &value)
{
    m_settings.setValue(kVoiceElevenLabsVoiceId, value);
    if (std::exchange(m_elevenLabsVoiceId, value) != value)
        Q_EMIT elevenLabsVoiceIdChanged();
}

void VoiceSettingsStore::setListenForScreenNames(bool value)
{
    m_settings.setValue(kVoiceListenForScreenNames, value);
    if (std::exchange(m_listenForScreenNames, value) != value)
        Q_EMIT listenForScreenNamesChanged();
}

void VoiceSettingsStore::setRequireClickConfirmation(bool value)
{
    m_settings.setValue(kVoiceRequireClickConfirmation, value);
    if (std::exchange(m_requireClickConfirmation, value) != value)
        Q_EMIT requireClickConfirmationChanged();
}

void VoiceSettingsStore::setClaudeModel(const QString &value)
{
    m_settings.setValue(kVoiceClaudeModel, value);
    if (std::exchange(m_claudeModel, value) != value)
        Q_EMIT claudeModelChanged();
}

void VoiceSettingsStore::setTalkKeyInterrupts(bool value)
{
    m_settings.setValue(kVoiceTalkKeyInterrupts, value);
    if (std::exchange(m_talkKeyInterrupts, value) != value)
        Q_EMIT talkKeyInterruptsChanged();
}

void VoiceSettingsStore::setAnthropicKeyPresent(bool value)
{
    if (std::exchange(m_anthropicKeyPresent, value) != value)
        Q_EMIT anthropicKeyPresentChanged();
}

void VoiceSettingsStore::setElevenLabsKeyPresent(bool value)
{
    if (std::exchange(m_elevenLabsKeyPresent, value) != value)
        Q_EMIT elevenLabsKeyPresentChanged();
}

void VoiceSettingsStore::refreshKeyFlags()
{
    setAnthropicKeyPresent(m_keychain.hasKey(kAnthropicAccount));
    setElevenLabsKeyPresent(m_keychain.hasKey(kElevenLabsAccount));
}

void VoiceSettingsStore::setBeeState(const VoiceBeeState &value)
{
    if (std::exchange(m_beeState, value) != value)
        Q_EMIT beeStateChanged();
}

void VoiceSettingsStore::setLastTranscript(const QString &value)
{
    if (std::exchange(m_lastTranscript, value) != value)
        Q_EMIT lastTranscriptChanged();
}

void VoiceSettingsStore::setLastAssistantReply(const QString &value)
{
    if (std::exchange(m_lastAssistantReply, value) != value)
        Q_EMIT lastAssistantReplyChanged();
}

void VoiceSettingsStore::setLastError(const std::optional<QString> &value)
{
    if (std::exchange(m_lastError, value) != value)
        Q_EMIT lastErrorChanged();
}

void VoiceSettingsStore::setTalkKey(int keyCode)
{
    const bool known = keyCode >= 0 && keyCode <= 0xffff && talkKeyChoices().contains(quint16(keyCode));
    const quint16 key = known ? quint16(keyCode) : talkKeyChoices().first();
    m_settings.setValue(kVoiceTalkKey, talkKeyRawValue(key));
    if (std::exchange(m_talkKey, key) != key)
        Q_EMIT talkKeyChanged();
}

}  // namespace zapum
