#include "voice/global_hotkey_service.h"

#include "foundation/logging.h"

namespace zapum {

bool modifierIsPressed(quint64 flags, quint16 keyCode)
{
    return (flags & flagForModifierKey(keyCode)) != 0;
}

GlobalHotkeyService::GlobalHotkeyService(std::unique_ptr<ModifierKeySource> source, HotkeyTiming timing,
                                         QObject *parent)
    : QObject(parent), m_source(std::move(source)), m_timing(timing)
{
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setTimerType(Qt::PreciseTimer);
    m_holdTimer.setInterval(m_timing.holdThreshold);
    connect(&m_holdTimer, &QTimer::timeout, this, &GlobalHotkeyService::thresholdReached);
}

GlobalHotkeyService::~GlobalHotkeyService()
{
    unregisterHotkey();
}

void GlobalHotkeyService::registerHotkey()
{
    unregisterHotkey();
    if (!m_source)
        return;
    // Queued, so that a callback that reacts to a key never runs inside the source's own event
    // handling, and events are handled in the order they came.
    m_connection = connect(m_source.get(), &ModifierKeySource::modifierChanged, this, &GlobalHotkeyService::handle,
                           Qt::QueuedConnection);
    m_registered = true;
    if (const Status started = m_source->start(); !started)
        qCWarning(lcVoice) << "Hold-to-talk is off:" << started.failure().message;
}

void GlobalHotkeyService::unregisterHotkey()
{
    if (m_registered && m_source)
        m_source->stop();
    disconnect(m_connection);
    m_registered = false;
    m_holdTimer.stop();
    m_isDown = false;
    m_didStart = false;
}

void GlobalHotkeyService::setTriggerKeyCode(quint16 keyCode)
{
    if (keyCode == m_triggerKeyCode)
        return;
    m_triggerKeyCode = keyCode;
    const bool started = m_didStart;
    m_holdTimer.stop();
    m_isDown = false;
    m_didStart = false;
    if (started && m_onEnd)
        m_onEnd();
}

void GlobalHotkeyService::handle(quint16 keyCode, quint64 flags)
{
    // A change queued just before unregistering must not start a hold afterwards.
    if (!m_registered || keyCode != m_triggerKeyCode)
        return;
    if (modifierIsPressed(flags, keyCode)) {
        if (m_isDown)
            return;  // the same hold, reported again
        m_isDown = true;
        m_didStart = false;
        m_holdTimer.start();
        if (m_onPress)
            m_onPress();
        return;
    }
    if (!m_isDown)
        return;
    m_isDown = false;
    m_holdTimer.stop();
    if (m_didStart) {
        m_didStart = false;
        if (m_onEnd)
            m_onEnd();
    }
}

void GlobalHotkeyService::thresholdReached()
{
    if (!m_isDown)
        return;
    m_didStart = true;
    if (m_onStart)
        m_onStart();
}

}  // namespace zapum
