#include "platform/linux/secrets/keyring_secret_store.h"

#include "foundation/logging.h"

#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace zapum::linux_platform {
namespace {

constexpr auto kDomain = "Keychain";

// Runs a job to completion; false when it did not finish in time.
bool runJob(QKeychain::Job &job, std::chrono::milliseconds timeout)
{
    job.setAutoDelete(false);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job.start();
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return finished;
}

}  // namespace

KeyringSecretStore::KeyringSecretStore(QString service, std::chrono::milliseconds timeout)
    : m_service(std::move(service)), m_timeout(timeout)
{
}

bool KeyringSecretStore::probe()
{
    QKeychain::ReadPasswordJob job(m_service);
    job.setKey(QStringLiteral("zapum.probe"));
    if (!runJob(job, m_timeout)) {
        qCWarning(lcPlatform) << "Secret Service did not answer in time";
        return false;
    }
    if (job.error() == QKeychain::NoError || job.error() == QKeychain::EntryNotFound)
        return true;
    qCWarning(lcPlatform) << "Secret Service unavailable:" << job.errorString();
    return false;
}

std::optional<QByteArray> KeyringSecretStore::read(const QString &account)
{
    QKeychain::ReadPasswordJob job(m_service);
    job.setKey(account);
    if (!runJob(job, m_timeout) || job.error() != QKeychain::NoError)
        return std::nullopt;
    QByteArray data = job.binaryData();
    if (data.isEmpty())
        return std::nullopt;
    return data;
}

Status KeyringSecretStore::write(const QString &account, const QByteArray &data)
{
    remove(account);
    QKeychain::WritePasswordJob job(m_service);
    job.setKey(account);
    job.setBinaryData(data);
    if (!runJob(job, m_timeout))
        return Failure{QLatin1String(kDomain), -1, QStringLiteral("The keyring did not answer in time.")};
    if (job.error() != QKeychain::NoError)
        return Failure{QLatin1String(kDomain), int(job.error()), job.errorString()};
    return Done{};
}

void KeyringSecretStore::remove(const QString &account)
{
    QKeychain::DeletePasswordJob job(m_service);
    job.setKey(account);
    runJob(job, m_timeout);
}

}  // namespace zapum::linux_platform
