#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace zapum {

class SettingsStorage;

namespace settings_keys {
inline const QString kEnvironment = QStringLiteral("ZaPumEnvironment");
inline const QString kApiBaseUrl = QStringLiteral("ZaPumAPIBaseURL");
inline const QString kWebBaseUrl = QStringLiteral("ZaPumWebBaseURL");
inline const QString kRemoteAssistantPaused = QStringLiteral("ZaPumRemoteAssistantPaused");
}  // namespace settings_keys

// The deployments of the product backend, in the order the settings picker lists them.
enum class ZaPumEnvironment { Production, Staging, Local };

QList<ZaPumEnvironment> allEnvironments();
QString rawValue(ZaPumEnvironment environment);
// Exact match only: "production" is not "Production".
std::optional<ZaPumEnvironment> environmentFromRawValue(const QString &text);
// Presets carry neither a trailing slash nor a path.
QString presetApiBaseUrl(ZaPumEnvironment environment);
QString presetWebBaseUrl(ZaPumEnvironment environment);

// "Never synced", or "Synced " and how long ago, in abbreviated units ("Synced 5 min. ago").
QString syncLabel(const std::optional<QDateTime> &lastSync, const QDateTime &now);
// "5 min. ago", "in 2 hr.", "3 days ago"; the largest unit that is at least one.
QString abbreviatedRelativeTime(const QDateTime &then, const QDateTime &now);

// Which backend the app talks to, the API base URL setting kept in step with it, the switch that
// pauses remote help and when guidance last synced.
class EnvironmentStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString current READ currentRawValue WRITE setCurrentRawValue NOTIFY currentChanged)
    Q_PROPERTY(QStringList environmentNames READ environmentNames CONSTANT)
    Q_PROPERTY(bool isPaused READ isPaused WRITE setIsPaused NOTIFY isPausedChanged)
    Q_PROPERTY(QDateTime lastSyncDate READ lastSyncDateValue NOTIFY lastSyncDateChanged)
    Q_PROPERTY(QString lastSyncLabel READ lastSyncLabel NOTIFY lastSyncDateChanged)
    Q_PROPERTY(QString apiBaseUrl READ apiBaseUrl WRITE setApiBaseUrl NOTIFY apiBaseUrlChanged)
    Q_PROPERTY(QString webBaseUrl READ webBaseUrl WRITE setWebBaseUrl NOTIFY webBaseUrlChanged)

public:
    explicit EnvironmentStore(SettingsStorage &settings, QObject *parent = nullptr);

    ZaPumEnvironment current() const { return m_current; }
    // Every assignment, even of the same environment, re-applies the API base URL rule.
    void setCurrent(ZaPumEnvironment environment);
    QString currentRawValue() const { return rawValue(m_current); }
    void setCurrentRawValue(const QString &text);  // unknown names are ignored
    QStringList environmentNames() const;

    bool isPaused() const { return m_isPaused; }
    void setIsPaused(bool paused);

    std::optional<QDateTime> lastSyncDate() const { return m_lastSyncDate; }
    QDateTime lastSyncDateValue() const { return m_lastSyncDate.value_or(QDateTime()); }
    void setLastSyncDate(const std::optional<QDateTime> &date);
    QString lastSyncLabel() const;

    // The ZaPumAPIBaseURL / ZaPumWebBaseURL texts as stored (untrimmed; empty when absent).
    QString apiBaseUrl() const;
    void setApiBaseUrl(const QString &text);
    QString webBaseUrl() const;
    void setWebBaseUrl(const QString &text);

    // The setting trimmed, or the current environment's preset when that leaves nothing.
    QString resolvedApiBase() const;
    QString resolvedWebBase() const;

Q_SIGNALS:
    void currentChanged();
    void isPausedChanged();
    // After every assignment of isPaused, changed or not: remote commands stop or (re)start on it.
    void remoteHelpSwitched(bool paused);
    void lastSyncDateChanged();
    void apiBaseUrlChanged();
    void webBaseUrlChanged();

private:
    void writeText(const QString &key, const QString &text, void (EnvironmentStore::*changed)());

    SettingsStorage &m_settings;
    ZaPumEnvironment m_current = ZaPumEnvironment::Production;
    bool m_isPaused = false;
    std::optional<QDateTime> m_lastSyncDate;
};

}  // namespace zapum
