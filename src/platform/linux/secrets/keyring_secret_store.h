#pragma once

#include "platform/secret_store.h"

#include <chrono>

namespace zapum::linux_platform {

// Secrets in the desktop's Secret Service (gnome-keyring, KWallet's bridge) through QtKeychain.
// QtKeychain is asynchronous; callers here expect answers at once, so each call waits on its job
// with a bounded local event loop.
class KeyringSecretStore final : public SecretStore {
public:
    explicit KeyringSecretStore(QString service,
                                std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // True when a Secret Service answers (an absent item is an answer; no bus or a locked,
    // unreachable keyring is not).
    bool probe();

    std::optional<QByteArray> read(const QString &account) override;
    Status write(const QString &account, const QByteArray &data) override;
    void remove(const QString &account) override;

private:
    QString m_service;
    std::chrono::milliseconds m_timeout;
};

}  // namespace zapum::linux_platform
