#pragma once

#include "platform/secret_store.h"

#include <QJsonObject>

namespace zapum::linux_platform {

// The fallback when no Secret Service answers: one JSON file readable only by the user (0600, in
// a 0700 folder), replaced atomically on every write. Weaker than a keyring, and the settings
// window says so.
class FileSecretStore final : public SecretStore {
public:
    explicit FileSecretStore(QString path);

    static QString defaultPath();
    const QString &path() const { return m_path; }

    std::optional<QByteArray> read(const QString &account) override;
    Status write(const QString &account, const QByteArray &data) override;
    void remove(const QString &account) override;

private:
    QJsonObject load() const;
    Status store(const QJsonObject &items);

    QString m_path;
};

}  // namespace zapum::linux_platform
