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
    // After a failure only the store knows what it kept (nothing, or the old item when even
    // dropping it failed); the cache says the same, so this run and the next agree.
    m_cache.insert(account, status.ok() ? std::optional<QByteArray>(data) : m_backend->read(account));
    return status;
}

void CachedSecretStore::remove(const QString &account)
{
    m_backend->remove(account);
    // Removal reports no failure; reading back keeps the cache true when it did fail.
    m_cache.insert(account, m_backend->read(account));
}

}  // namespace zapum
