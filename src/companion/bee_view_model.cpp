#include "companion/bee_view_model.h"

#include "app/app_notifications.h"
#include "companion/bee_motion.h"
#include "companion/bee_view_logic.h"
#include "companion/companion_geometry.h"
#include "foundation/logging.h"
#include "foundation/settings_storage.h"
#include "platform/platform_words.h"
#include "platform/screen_idle_watcher.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace zapum {

BeeModelChoice chooseBeeModel(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.exists())
        return {{}, QStringLiteral("no bee model at %1").arg(path)};
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("cannot read the bee model %1: %2").arg(path, file.errorString())};
    // The model is small; a cut-short or foreign file is caught here rather than by the importer.
    if (const auto problem = glbProblem(file.readAll()))
        return {{}, QStringLiteral("the bee model %1 is unusable: %2").arg(path, *problem)};
    return {QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()), {}};
}

QString defaultBeeModelPath()
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(QStringLiteral("bee/bee-runtime.glb"));
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(programDir.filePath(QStringLiteral("../share/zapum/bee/bee-runtime.glb")));
}

BeeViewModel::BeeViewModel(SettingsStorage &settings, VoiceSettingsStore &voice, VoiceAmplitudePublisher &amplitude,
                           AppNotifications &notifications, PushToTalk togglePushToTalk, BeeModelChoice beeModel,
                           MotionPreference prefersReducedMotion, QObject *parent)
    : QObject(parent),
      m_settings(settings),
      m_voice(voice),
      m_amplitude(amplitude),
      m_notifications(notifications),
      m_togglePushToTalk(std::move(togglePushToTalk)),
      m_prefersReducedMotion(std::move(prefersReducedMotion)),
      m_beeModel(beeModel.model),
      m_lastState(voice.beeState())
{
    BeeMotion::registerQmlType();
    if (m_beeModel.isEmpty())
        qCInfo(lcCompanion) << "showing the emoji bee:" << beeModel.reason;
    m_side = companionSide(m_settings.storedNumber(settings_keys::kCompanionSide));
    reloadMotionPreference();

    connect(&m_voice, &VoiceSettingsStore::beeStateChanged, this, [this] {
        const VoiceBeeState state = m_voice.beeState();
        if (state == m_lastState)
            return;
        m_lastState = state;
        // The card appears with the new state, so that is when the desktop setting is read again.
        reloadMotionPreference();
        Q_EMIT stateChanged();
        Q_EMIT chipChanged();
        Q_EMIT m_notifications.voiceStateChanged();
    });
    for (auto signal : {&VoiceSettingsStore::lastTranscriptChanged, &VoiceSettingsStore::lastAssistantReplyChanged,
                        &VoiceSettingsStore::lastErrorChanged})
        connect(&m_voice, signal, this, &BeeViewModel::chipChanged);
    connect(&m_notifications, &AppNotifications::companionLayoutChanged, this, &BeeViewModel::reloadSide);
    connect(&m_voice, &VoiceSettingsStore::talkKeyChanged, this, &BeeViewModel::stateChanged);
}

bool BeeViewModel::active() const
{
    return m_voice.beeState().kind() != VoiceBeeState::Kind::Idle;
}

int BeeViewModel::stateKind() const
{
    return int(m_voice.beeState().kind());
}

QString BeeViewModel::chipText() const
{
    return zapum::chipText(
        {m_voice.beeState(), m_voice.lastTranscript(), m_voice.lastAssistantReply(), m_voice.lastError()});
}

QString BeeViewModel::talkHint() const
{
    return QStringLiteral("Click to open guidance, or hold %1 to talk.").arg(platformWords().keyName(m_voice.talkKey()));
}

QString BeeViewModel::statusLabel() const
{
    return zapum::statusLabel(m_voice.beeState().kind(), m_voice.talkKey());
}

QColor BeeViewModel::captionColor() const
{
    return cardColours(m_voice.beeState().kind()).caption;
}

QColor BeeViewModel::chipStrokeColor() const
{
    return cardColours(m_voice.beeState().kind()).chipStroke;
}

QColor BeeViewModel::chipTextColor() const
{
    return cardColours(m_voice.beeState().kind()).chipText;
}

double BeeViewModel::chipMaxHeight() const
{
    return zapum::chipMaxHeight(m_voice.beeState().kind());
}

QObject *BeeViewModel::amplitude() const
{
    return &m_amplitude;
}

void BeeViewModel::setPopoverOpen(bool open)
{
    if (m_popoverOpen == open)
        return;
    m_popoverOpen = open;
    Q_EMIT popoverOpenChanged();
    Q_EMIT m_notifications.popoverVisibilityChanged(open);
}

void BeeViewModel::togglePushToTalk()
{
    if (m_togglePushToTalk)
        m_togglePushToTalk();
}

void BeeViewModel::reportBeeModelFailed(const QString &reason)
{
    if (m_beeModel.isEmpty())
        return;
    qCWarning(lcCompanion) << "the bee model failed, showing the emoji bee instead:" << reason;
    m_beeModel.clear();
    Q_EMIT beeModelUrlChanged();
}

void BeeViewModel::reloadSide()
{
    const double side = companionSide(m_settings.storedNumber(settings_keys::kCompanionSide));
    if (side == m_side)
        return;
    m_side = side;
    Q_EMIT sideChanged();
}

void BeeViewModel::setScreenIdleWatcher(ScreenIdleWatcher *watcher)
{
    auto follow = [this](bool idle) {
        if (idle == m_screenIdle)
            return;
        m_screenIdle = idle;
        Q_EMIT screenIdleChanged();
    };
    connect(watcher, &ScreenIdleWatcher::screenIdleChanged, this, follow);
    follow(watcher->isScreenIdle());
}

void BeeViewModel::reloadMotionPreference()
{
    const bool reduce = m_prefersReducedMotion && m_prefersReducedMotion();
    if (reduce == m_reduceMotion)
        return;
    m_reduceMotion = reduce;
    Q_EMIT reduceMotionChanged();
}

}  // namespace zapum
