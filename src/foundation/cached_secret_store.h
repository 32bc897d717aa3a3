#pragma once

#include "platform/secret_store.h"

#include <QHash>
#include <QStringList>

#include <memory>

namespace zapum {

// Reads every known account once up front and answers later reads from memory, so views and the
// voice session never wait on the keyring. Writes go straight through.
class CachedSecretStore final : public SecretStore {
public:
    CachedSecretStore(std::unique_ptr<SecretStore> backend, const QStringList &accounts);

    std::optional<QByteArray> read(const QString &account) override;
    Status write(const QString &account, const QByteArray &data) override;
    void remove(const QString &account) override;

private:
    std::unique_ptr<SecretStore> m_backend;
    QHash<QString, std::optional<QByteArray>> m_cache;
};

}  // namespace zapum
