#include "foundation/cached_secret_store.h"

namespace zapum {

CachedSecretStore::CachedSecretStore(std::unique_ptr<SecretStore> backend, const QStringList &accounts)
    : m_backend(std::move(backend))
{
    for (const QString &account : accounts)
        m_cache.insert(account, m_backend->read(account));
}

std::optional<QByteArray> CachedSecretStore::read(const QString &account)
{
    auto it = m_cache.find(account);
    if (it == m_cache.end())
        it = m_cache.insert(account, m_backend->read(account));
    return *it;
}

Status CachedSecretStore::write(const QString &account, const QByteArray &data)
{
    Status status = m_backend->write(account, data);
    // A failed replace has already removed the old item, so the cache must forget it too.
    m_cache.insert(account, status.ok() ? std::optional<QByteArray>(data) : std::nullopt);
    return status;
}

void CachedSecretStore::remove(const QString &account)
{
    m_backend->remove(account);
    m_cache.insert(account, std::nullopt);
}

}  // namespace zapum
