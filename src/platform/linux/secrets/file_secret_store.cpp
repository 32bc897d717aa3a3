#include "platform/linux/secrets/file_secret_store.h"

#include "foundation/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapum::linux_platform {
namespace {

constexpr auto kDomain = "SecretFile";

Failure posixFailure(const char *what)
{
    return Failure{QLatin1String(kDomain), errno,
                   QStringLiteral("Could not %1 the secrets file: %2")
                       .arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)))};
}

}  // namespace

FileSecretStore::FileSecretStore(QString path) : m_path(std::move(path)) {}

QString FileSecretStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/ZaPum/secrets.json");
}

QJsonObject FileSecretStore::load() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.object();
}

std::optional<QByteArray> FileSecretStore::read(const QString &account)
{
    const QJsonValue value = load().value(account);
    if (!value.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(value.toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return std::nullopt;
    return decoded.decoded;
}

Status FileSecretStore::write(const QString &account, const QByteArray &data)
{
    QJsonObject items = load();
    items.insert(account, QString::fromLatin1(data.toBase64()));
    Status status = store(items);
    if (!status) {
        // A failed save leaves no item, as a keyring's delete-then-add does: the old key or the
        // previous user's session must not come back at the next launch. The smaller file
        // without it may still fit where the new one did not.
        items.remove(account);
        if (Status removed = store(items); !removed)
            qCWarning(lcPlatform) << "could not drop a secret after a failed write:" << removed.failure().message;
    }
    return status;
}

void FileSecretStore::remove(const QString &account)
{
    QJsonObject items = load();
    if (!items.contains(account))
        return;
    items.remove(account);
    if (Status status = store(items); !status)
        qCWarning(lcPlatform) << "could not remove a secret:" << status.failure().message;
}

Status FileSecretStore::store(const QJsonObject &items)
{
    const QString dir = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(dir))
        return Failure{QLatin1String(kDomain), 0, QStringLiteral("Could not create %1.").arg(dir)};
    ::chmod(QFile::encodeName(dir).constData(), 0700);

    // Written to a private temporary file first and renamed over the old one, so a crash never
    // leaves a half-written file and the secrets are never readable by others, not even briefly.
    const QByteArray target = QFile::encodeName(m_path);
    const QByteArray temp = target + ".tmp";
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return posixFailure("create");
    ::fchmod(fd, 0600);
    const QByteArray bytes = QJsonDocument(items).toJson(QJsonDocument::Compact);
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Failure failure = posixFailure("write");
            ::close(fd);
            ::unlink(temp.constData());
            return failure;
        }
        written += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        Failure failure = posixFailure("write");
        ::unlink(temp.constData());
        return failure;
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        Failure failure = posixFailure("replace");
        ::unlink(temp.constData());
        return failure;
    }
    return Done{};
}

}  // namespace zapum::linux_platform
