#include "voice/voice_keychain.h"

#include "foundation/logging.h"

#include <QStringDecoder>

namespace zapum {

std::optional<QString> VoiceKeychain::read(const QString &account) const
{
    const std::optional<QByteArray> data = m_store.read(account);
    if (!data || data->isEmpty())
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(*data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool VoiceKeychain::hasKey(const QString &account) const
{
    const std::optional<QString> key = read(account);
    return key && !key->trimmed().isEmpty();
}

void VoiceKeychain::save(const QString &value, const QString &account)
{
    if (value.isEmpty()) {
        m_store.remove(account);
        return;
    }
    if (Status status = m_store.write(account, value.toUtf8()); !status)
        qCWarning(lcVoice) << "could not store the key for" << account << "-" << status.failure().message;
}

std::optional<KeychainError> KeychainHelper::save(const QByteArray &data)
{
    Status status = m_store.write(kSessionAccount, data);
    if (status)
        return std::nullopt;
    return KeychainError{status.failure().code, status.failure().message};
}

std::optional<QByteArray> KeychainHelper::load() const
{
    std::optional<QByteArray> data = m_store.read(kSessionAccount);
    if (!data || data->isEmpty())
        return std::nullopt;
    return data;
}

void KeychainHelper::remove()
{
    m_store.remove(kSessionAccount);
}

}  // namespace zapum
