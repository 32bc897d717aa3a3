#pragma once

#include "platform/secret_store.h"

#include <QString>

#include <optional>

namespace zapum {

inline const QString kAnthropicAccount = QStringLiteral("voice.anthropic");
inline const QString kElevenLabsAccount = QStringLiteral("voice.elevenlabs");
inline const QString kSessionAccount = QStringLiteral("zapum.session");

// The two vendor API keys, as text, in the secret store.
class VoiceKeychain {
public:
    explicit VoiceKeychain(SecretStore &store) : m_store(store) {}

    // The key as stored, untrimmed; absent when missing, unreadable or not valid UTF-8.
    std::optional<QString> read(const QString &account) const;
    // True when a key with something other than white space is stored.
    bool hasKey(const QString &account) const;
    // Replaces the key; saving the empty text removes it. A failed write shows up only as
    // hasKey() turning false.
    void save(const QString &value, const QString &account);

private:
    SecretStore &m_store;
};

// A failed write of the session record, with the store's status code.
struct KeychainError {
    int status = 0;
    QString message;
};

// The signed-in session record, as opaque bytes, in the secret store.
class KeychainHelper {
public:
    explicit KeychainHelper(SecretStore &store) : m_store(store) {}

    // Replaces the record. On failure the previous record is already gone.
    std::optional<KeychainError> save(const QByteArray &data);
    std::optional<QByteArray> load() const;
    void remove();

private:
    SecretStore &m_store;
};

}  // namespace zapum
