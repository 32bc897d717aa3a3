#include "ui/settings_view_model.h"

#include "app/app_notifications.h"
#include "backend/ask_service.h"
#include "backend/environment_store.h"
#include "backend/guidance_service.h"
#include "companion/companion_geometry.h"
#include "desktop/action_mode_store.h"
#include "foundation/settings_storage.h"
#include "platform/modifier_key_source.h"
#include "platform/platform_words.h"
#include "voice/global_hotkey_service.h"
#include "voice/talk_key.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QLocale>
#include <QPointer>

#include <cmath>

namespace zapum {

QString voiceStateLabel(const VoiceBeeState &state)
{
    switch (state.kind()) {
    case VoiceBeeState::Kind::Idle: return QStringLiteral("Idle");
    case VoiceBeeState::Kind::Listening: return QStringLiteral("Listening…");
    case VoiceBeeState::Kind::Thinking: return QStringLiteral("Thinking…");
    case VoiceBeeState::Kind::Speaking: return QStringLiteral("Speaking…");
    case VoiceBeeState::Kind::Error: return QStringLiteral("Error: ") + state.message();
    }
    return {};
}

bool canSaveApiKey(const QString &input)
{
    return !input.trimmed().isEmpty();
}

QString windowDetailLine(const DesktopWindowInfo &window)
{
    const auto whole = [](double value) { return QString::number(std::llround(value)); };
    const QRectF &b = window.bounds;
    return QStringLiteral("PID %1 · layer %2 · %3×%4 @ (%5, %6)")
        .arg(window.ownerPID)
        .arg(window.layer)
        .arg(whole(b.width()), whole(b.height()), whole(b.x()), whole(b.y()));
}

QString windowsRefreshLine(const std::optional<QDateTime> &refreshed)
{
    if (!refreshed)
        return {};
    return QStringLiteral("Updated ") + QLocale().toString(refreshed->toLocalTime().time(), QLocale::ShortFormat);
}

QString companionSideLine(double side)
{
    return QStringLiteral("Current: %1 pt").arg(std::llround(side));
}

namespace {

const QString &accountFor(const QString &name)
{
    return name == QLatin1String("elevenlabs") ? kElevenLabsAccount : kAnthropicAccount;
}

}  // namespace

SettingsViewModel::SettingsViewModel(SettingsStorage &settings, EnvironmentStore &environment,
                                     GuidanceService &guidance, ActionModeStore &actionMode,
                                     VoiceSettingsStore &voice, VoiceKeychain &keychain,
                                     AppNotifications &notifications, QString secretsFallbackPath, Actions actions,
                                     QObject *parent)
    : QObject(parent),
      m_settings(settings),
      m_environment(environment),
      m_guidance(guidance),
      m_actionMode(actionMode),
      m_voice(voice),
      m_keychain(keychain),
      m_notifications(notifications),
      m_secretsFallbackPath(std::move(secretsFallbackPath)),
      m_actions(std::move(actions))
{
    connect(&m_voice, &VoiceSettingsStore::beeStateChanged, this, &SettingsViewModel::voiceStateChanged);
    connect(&m_actionMode, &ActionModeStore::windowsChanged, this, &SettingsViewModel::windowRowsChanged);
    connect(&m_actionMode, &ActionModeStore::lastWindowsRefreshChanged, this, &SettingsViewModel::windowRowsChanged);
    connect(&m_actionMode, &ActionModeStore::runningAppsChanged, this, &SettingsViewModel::appRowsChanged);
    connect(&m_actionMode, &ActionModeStore::lastSnapshotChanged, this, [this] {
        ++m_snapshotGeneration;
        Q_EMIT snapshotGenerationChanged();
    });
    // The bee's own size control writes the same key.
    connect(&m_notifications, &AppNotifications::companionLayoutChanged, this, &SettingsViewModel::companionSideChanged);
    connect(&m_voice, &VoiceSettingsStore::talkKeyChanged, this, &SettingsViewModel::talkKeyChanged);
}

double SettingsViewModel::companionSide() const
{
    return zapum::companionSide(m_settings.storedNumber(settings_keys::kCompanionSide));
}

void SettingsViewModel::setCompanionSide(double side)
{
    // The slider moves in steps of 4 between the two ends; a value between steps snaps to one.
    const double snapped = std::clamp(kMinCompanionSide + std::round((side - kMinCompanionSide) / 4.0) * 4.0,
                                      kMinCompanionSide, kMaxCompanionSide);
    if (m_settings.storedNumber(settings_keys::kCompanionSide) == snapped)
        return;
    m_settings.setValue(settings_keys::kCompanionSide, snapped);
    Q_EMIT m_notifications.companionLayoutChanged();
}

bool SettingsViewModel::patrolNearDock() const
{
    return m_settings.storedBool(settings_keys::kPatrolNearDockEnabled).value_or(true);
}

void SettingsViewModel::setPatrolNearDock(bool on)
{
    if (on == patrolNearDock())
        return;
    m_settings.setValue(settings_keys::kPatrolNearDockEnabled, on);
    Q_EMIT patrolNearDockChanged();
    if (on && m_actions.patrolTurnedOn)
        m_actions.patrolTurnedOn();
}

QStringList SettingsViewModel::askModelTitles() const
{
    QStringList titles;
    for (DesktopAskModel model : allAskModels())
        titles.append(label(model));
    return titles;
}

int SettingsViewModel::askModelIndex() const
{
    const DesktopAskModel model = askModelForPicker(m_settings.storedText(settings_keys::kAskModel).value_or(QString()));
    return int(allAskModels().indexOf(model));
}

void SettingsViewModel::setAskModelIndex(int index)
{
    const QList<DesktopAskModel> models = allAskModels();
    if (index < 0 || index >= models.size() || index == askModelIndex())
        return;
    m_settings.setValue(settings_keys::kAskModel, rawValue(models.at(index)));
    Q_EMIT askModelIndexChanged();
}

QString SettingsViewModel::voiceStateText() const
{
    return voiceStateLabel(m_voice.beeState());
}

QVariantList SettingsViewModel::windowRows() const
{
    QVariantList rows;
    for (const DesktopWindowInfo &window : m_actionMode.windows())
        rows.append(QVariantMap{{QStringLiteral("owner"), window.ownerName},
                                {QStringLiteral("title"), window.title},
                                {QStringLiteral("detail"), windowDetailLine(window)}});
    return rows;
}

QVariantList SettingsViewModel::appRows() const
{
    QVariantList rows;
    for (const RunningAppSummary &app : m_actionMode.runningApps())
        rows.append(QVariantMap{{QStringLiteral("pid"), app.pid},
                                {QStringLiteral("name"), app.name},
                                {QStringLiteral("bundleId"), app.bundleIdText()},
                                {QStringLiteral("isActive"), app.isActive}});
    return rows;
}

QString SettingsViewModel::windowsRefreshText() const
{
    return windowsRefreshLine(m_actionMode.lastWindowsRefresh());
}

bool SettingsViewModel::saveKey(const QString &account, const QString &input)
{
    if (!canSaveApiKey(input))
        return false;
    m_keychain.save(input, accountFor(account));
    m_voice.refreshKeyFlags();
    return m_keychain.hasKey(accountFor(account));
}

void SettingsViewModel::clearKey(const QString &account)
{
    m_keychain.save(QString(), accountFor(account));
    m_voice.refreshKeyFlags();
}

void SettingsViewModel::refreshGuidanceNow()
{
    // The service records a successful fetch's time itself; nothing else moves it.
    (void)m_guidance.refreshFromAPI(m_environment.apiBaseUrl());
}

void SettingsViewModel::centerAboveDock()
{
    if (m_actions.centerAboveDock)
        m_actions.centerAboveDock();
    Q_EMIT patrolNearDockChanged();
}

void SettingsViewModel::showOnboarding()
{
    if (m_actions.showOnboarding)
        m_actions.showOnboarding();
}

void SettingsViewModel::talkNow()
{
    if (m_actions.talkNow)
        m_actions.talkNow();
}

void SettingsViewModel::refreshWindowsAndApps()
{
    m_actionMode.refreshPermissionState();
    m_actionMode.refreshWindowsAndApps();
}

void SettingsViewModel::activateApp(int pid)
{
    if (m_actionMode.isEnabled() && m_actions.activateApp)
        m_actions.activateApp(pid);
}

void SettingsViewModel::openScreenRecordingSettings()
{
    const Status status = m_actionMode.openScreenRecordingSettings();
    setSettingsNote(status ? QString() : status.failure().message);
}

void SettingsViewModel::openAccessibilitySettings()
{
    const Status status = m_actionMode.openAccessibilitySettings();
    setSettingsNote(status ? QString() : status.failure().message);
}

void SettingsViewModel::setSettingsNote(const QString &note)
{
    if (note == m_settingsNote)
        return;
    m_settingsNote = note;
    Q_EMIT settingsNoteChanged();
}

QStringList SettingsViewModel::talkKeyNames() const
{
    QStringList names;
    for (quint16 key : talkKeyChoices())
        names.append(platformWords().keyName(key));
    return names;
}

int SettingsViewModel::talkKeyIndex() const
{
    return int(talkKeyChoices().indexOf(m_voice.talkKey()));
}

void SettingsViewModel::setTalkKeyIndex(int index)
{
    if (index >= 0 && index < talkKeyChoices().size())
        m_voice.setTalkKey(talkKeyChoices().at(index));
}

QString SettingsViewModel::holdToTalkText() const
{
    return holdToTalkLine(m_voice.talkKey(), HotkeyTiming{}.holdThreshold);
}

QString SettingsViewModel::talkHelpText() const
{
    return talkHelpLine(m_voice.talkKey());
}

QString SettingsViewModel::talkKeyNoteText() const
{
    return talkKeyNote(m_voice.talkKey(), modifierKeyTypesCharacters(m_voice.talkKey()));
}

QString SettingsViewModel::strollLabel() const
{
    return QStringLiteral("Stroll near ") + platformWords().screenBottom;
}

QString SettingsViewModel::centerLabel() const
{
    return QStringLiteral("Center above %1 (resume patrol)").arg(platformWords().taskbar);
}

QString SettingsViewModel::placementHelp() const
{
    return QStringLiteral("Drag the bee anywhere on screen. While Stroll is on, it wanders along a small rail until "
                          "you move it. Center above %1 snaps it back and turns strolling on.")
        .arg(platformWords().taskbar);
}

SnapshotImageProvider::SnapshotImageProvider(std::function<QImage()> snapshot)
    : QQuickImageProvider(QQuickImageProvider::Image), m_snapshot(std::move(snapshot))
{
}

QImage SnapshotImageProvider::requestImage(const QString &, QSize *size, const QSize &requestedSize)
{
    QImage image = m_snapshot ? m_snapshot() : QImage();
    if (!image.isNull() && requestedSize.isValid())
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (size)
        *size = image.size();
    return image;
}

}  // namespace zapum
