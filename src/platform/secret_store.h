#pragma once

#include "foundation/failure.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace zapum {

// Where secrets live: the two API keys and the signed-in session record, each under an account
// name. Writes replace; a read of a missing or unreadable item is absent, never an error.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    virtual std::optional<QByteArray> read(const QString &account) = 0;
    virtual Status write(const QString &account, const QByteArray &data) = 0;
    virtual void remove(const QString &account) = 0;
};

// The store the app uses, and the private file it had to fall back to because no Secret Service
// answered (empty when it did not; a view tells the user so).
struct SecretStoreChoice {
    std::unique_ptr<SecretStore> store;
    QString fallbackPath;
};

// Implemented by the platform back-end.
SecretStoreChoice openSecretStore();

}  // namespace zapum
