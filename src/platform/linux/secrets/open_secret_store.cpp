#include "platform/linux/secrets/file_secret_store.h"
#include "platform/linux/secrets/keyring_secret_store.h"

#include "foundation/logging.h"

namespace zapum {

// One service name for every item; the ".macos" suffix is kept so items read the same on both
// back-ends.
static const auto kKeychainService = QStringLiteral("app.zapum.desktop.macos");

SecretStoreChoice openSecretStore()
{
    auto keyring = std::make_unique<linux_platform::KeyringSecretStore>(kKeychainService);
    if (keyring->probe())
        return {std::move(keyring), {}};

    auto file = std::make_unique<linux_platform::FileSecretStore>(linux_platform::FileSecretStore::defaultPath());
    qCWarning(lcPlatform) << "no Secret Service answered; keeping secrets in" << file->path();
    QString path = file->path();
    return {std::move(file), path};
}

}  // namespace zapum
