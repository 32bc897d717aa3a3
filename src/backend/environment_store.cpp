#include "backend/environment_store.h"

#include "foundation/settings_storage.h"

#include <cmath>
#include <utility>

namespace zapum {

using namespace settings_keys;

QList<ZaPumEnvironment> allEnvironments()
{
    return {ZaPumEnvironment::Production, ZaPumEnvironment::Staging, ZaPumEnvironment::Local};
}

QString rawValue(ZaPumEnvironment environment)
{
    switch (environment) {
    case ZaPumEnvironment::Production: return QStringLiteral("Production");
    case ZaPumEnvironment::Staging: return QStringLiteral("Staging");
    case ZaPumEnvironment::Local: return QStringLiteral("Local (dev)");
    }
    return {};
}

std::optional<ZaPumEnvironment> environmentFromRawValue(const QString &text)
{
    for (ZaPumEnvironment environment : allEnvironments()) {
        if (rawValue(environment) == text)
            return environment;
    }
    return std::nullopt;
}

QString presetApiBaseUrl(ZaPumEnvironment environment)
{
    switch (environment) {
    case ZaPumEnvironment::Production: return QStringLiteral("https://api.zapum.app");
    case ZaPumEnvironment::Staging: return QStringLiteral("https://api.staging.zapum.app");
    case ZaPumEnvironment::Local: return QStringLiteral("http://localhost:4001");
    }
    return {};
}

QString presetWebBaseUrl(ZaPumEnvironment environment)
{
    switch (environment) {
    case ZaPumEnvironment::Production: return QStringLiteral("https://zapum.app");
    case ZaPumEnvironment::Staging: return QStringLiteral("https://staging.zapum.app");
    case ZaPumEnvironment::Local: return QStringLiteral("http://localhost:3100");
    }
    return {};
}

QString abbreviatedRelativeTime(const QDateTime &then, const QDateTime &now)
{
    const qint64 seconds = then.secsTo(now);
    const bool future = seconds < 0;
    const qint64 span = std::abs(seconds);

    struct Unit {
        qint64 seconds;
        const char *one;
        const char *many;
    };
    // Largest first; months and years are calendar-agnostic averages, as close as a label needs.
    static constexpr Unit units[] = {
        {365 * 86400, "yr.", "yr."}, {30 * 86400, "mo.", "mo."}, {7 * 86400, "wk.", "wk."},
        {86400, "day", "days"},       {3600, "hr.", "hr."},       {60, "min.", "min."},
    };
    qint64 count = span;
    QString name = QStringLiteral("sec.");
    for (const Unit &unit : units) {
        if (span >= unit.seconds) {
            count = span / unit.seconds;
            name = QLatin1String(count == 1 ? unit.one : unit.many);
            break;
        }
    }
    const QString amount = QString::number(count) + QLatin1Char(' ') + name;
    return future ? QStringLiteral("in ") + amount : amount + QStringLiteral(" ago");
}

QString syncLabel(const std::optional<QDateTime> &lastSync, const QDateTime &now)
{
    if (!lastSync)
        return QStringLiteral("Never synced");
    return QStringLiteral("Synced ") + abbreviatedRelativeTime(*lastSync, now);
}

EnvironmentStore::EnvironmentStore(SettingsStorage &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    m_current = environmentFromRawValue(m_settings.storedText(kEnvironment).value_or(QString()))
                    .value_or(ZaPumEnvironment::Production);
    m_isPaused = m_settings.storedBool(kRemoteAssistantPaused).value_or(false);
    // A blank URL is filled in at launch; anything else the user stored stays exactly as typed.
    if (apiBaseUrl().trimmed().isEmpty())
        m_settings.setValue(kApiBaseUrl, presetApiBaseUrl(m_current));
}

void EnvironmentStore::setCurrent(ZaPumEnvironment environment)
{
    const bool changed = std::exchange(m_current, environment) != environment;
    m_settings.setValue(kEnvironment, rawValue(environment));

    // Only a URL that still is a preset (or nothing) follows the environment; one the user typed
    // survives the switch. Compared untrimmed on purpose: "  " is the user's, not a preset.
    const QString stored = apiBaseUrl();
    bool isPreset = false;
    for (ZaPumEnvironment each : allEnvironments())
        isPreset = isPreset || stored == presetApiBaseUrl(each);
    if (stored.isEmpty() || isPreset) {
        const QString preset = presetApiBaseUrl(environment);
        m_settings.setValue(kApiBaseUrl, preset);
        if (preset != stored)
            Q_EMIT apiBaseUrlChanged();
    }
    if (changed)
        Q_EMIT currentChanged();
}

void EnvironmentStore::setCurrentRawValue(const QString &text)
{
    if (const auto environment = environmentFromRawValue(text))
        setCurrent(*environment);
}

QStringList EnvironmentStore::environmentNames() const
{
    QStringList names;
    for (ZaPumEnvironment environment : allEnvironments())
        names.append(rawValue(environment));
    return names;
}

void EnvironmentStore::setIsPaused(bool paused)
{
    m_settings.setValue(kRemoteAssistantPaused, paused);
    if (std::exchange(m_isPaused, paused) != paused)
        Q_EMIT isPausedChanged();
    Q_EMIT remoteHelpSwitched(paused);
}

void EnvironmentStore::setLastSyncDate(const std::optional<QDateTime> &date)
{
    m_lastSyncDate = date;
    Q_EMIT lastSyncDateChanged();
}

QString EnvironmentStore::lastSyncLabel() const
{
    return syncLabel(m_lastSyncDate, QDateTime::currentDateTimeUtc());
}

QString EnvironmentStore::apiBaseUrl() const
{
    return m_settings.storedText(kApiBaseUrl).value_or(QString());
}

void EnvironmentStore::setApiBaseUrl(const QString &text)
{
    writeText(kApiBaseUrl, text, &EnvironmentStore::apiBaseUrlChanged);
}

QString EnvironmentStore::webBaseUrl() const
{
    return m_settings.storedText(kWebBaseUrl).value_or(QString());
}

void EnvironmentStore::setWebBaseUrl(const QString &text)
{
    writeText(kWebBaseUrl, text, &EnvironmentStore::webBaseUrlChanged);
}

void EnvironmentStore::writeText(const QString &key, const QString &text, void (EnvironmentStore::*changed)())
{
    const bool differs = m_settings.storedText(key) != text;
    m_settings.setValue(key, text);
    if (differs)
        Q_EMIT(this->*changed)();
}

QString EnvironmentStore::resolvedApiBase() const
{
    const QString trimmed = apiBaseUrl().trimmed();
    return trimmed.isEmpty() ? presetApiBaseUrl(m_current) : trimmed;
}

QString EnvironmentStore::resolvedWebBase() const
{
    const QString trimmed = webBaseUrl().trimmed();
    return trimmed.isEmpty() ? presetWebBaseUrl(m_current) : trimmed;
}

}  // namespace zapum
