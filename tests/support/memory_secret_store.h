#pragma once

#include "platform/secret_store.h"

#include <QHash>

namespace zapum::test {

// An in-memory secret store for unit tests; writes can be made to fail like a locked keyring.
class MemorySecretStore final : public SecretStore {
public:
    std::optional<QByteArray> read(const QString &account) override
    {
        ++reads;
        return items.contains(account) ? std::optional(items.value(account)) : std::nullopt;
    }

    Status write(const QString &account, const QByteArray &data) override
    {
        items.remove(account);
        if (failWrites)
            return Failure{QStringLiteral("Keychain"), -25293, QStringLiteral("The keyring is locked.")};
        items.insert(account, data);
        return Done{};
    }

    void remove(const QString &account) override { items.remove(account); }

    QHash<QString, QByteArray> items;
    bool failWrites = false;
    int reads = 0;
};

}  // namespace zapum::test
