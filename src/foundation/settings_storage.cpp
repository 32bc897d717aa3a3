#include "foundation/settings_storage.h"

#include "foundation/logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>

namespace zapum {
namespace {

bool readJson(QIODevice &device, QSettings::SettingsMap &map)
{
    const QByteArray bytes = device.readAll();
    if (bytes.trimmed().isEmpty())
        return true;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        map.insert(it.key(), it.value().toVariant());
    return true;
}

bool writeJson(QIODevice &device, const QSettings::SettingsMap &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), QJsonValue::fromVariant(it.value()));
    return device.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) >= 0;
}

QSettings::Format jsonFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson);
    return format;
}

// QSettings silently starts empty on a file it cannot parse and would then overwrite it on the
// next assignment. Move such a file aside first so the user's old settings are not lost.
void setAsideUnreadable(const QString &path)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    QSettings::SettingsMap ignored;
    if (readJson(file, ignored))
        return;
    file.close();
    const QString aside =
        path + QStringLiteral(".unreadable-") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
    if (QFile::rename(path, aside))
        qCWarning(lcFoundation) << "settings file was not valid JSON; moved it to" << aside;
    else
        qCWarning(lcFoundation) << "settings file is not valid JSON and could not be moved aside:" << path;
}

}  // namespace

SettingsStorage::SettingsStorage(const QString &filePath)
{
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    setAsideUnreadable(filePath);
    m_settings = std::make_unique<QSettings>(filePath, jsonFormat());
}

SettingsStorage::~SettingsStorage() = default;

QString SettingsStorage::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/ZaPum/settings.json");
}

bool SettingsStorage::contains(const QString &key) const
{
    return m_settings->contains(key);
}

QVariant SettingsStorage::value(const QString &key) const
{
    return m_settings->value(key);
}

std::optional<bool> SettingsStorage::storedBool(const QString &key) const
{
    const QVariant v = m_settings->value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    return std::nullopt;
}

std::optional<QString> SettingsStorage::storedText(const QString &key) const
{
    const QVariant v = m_settings->value(key);
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    return std::nullopt;
}

std::optional<double> SettingsStorage::storedNumber(const QString &key) const
{
    const QVariant v = m_settings->value(key);
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong: return v.toDouble();
    default: return std::nullopt;
    }
}

void SettingsStorage::setValue(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError)
        qCWarning(lcFoundation) << "could not write settings to" << m_settings->fileName();
}

void SettingsStorage::remove(const QString &key)
{
    m_settings->remove(key);
    m_settings->sync();
}

}  // namespace zapum
