#pragma once

#include "platform/modifier_key_source.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace zapum {

struct HotkeyTiming {
    // How long the trigger key must stay down before a conversation starts; shorter taps are
    // ordinary uses of the key (typing a special character, Alt-dragging a window).
    std::chrono::milliseconds holdThreshold{400};
};

// Whether the modifier whose key produced a change is down after it, read from the flags. The
// flags do not tell the left and right twins apart.
bool modifierIsPressed(quint64 flags, quint16 keyCode);

// Turns a hold of the talk key (Right Alt, or AltGr, unless the user chose another) anywhere on the
// desktop into two callbacks: onStart once the key has been down for the hold threshold, onEnd
// when it is released after a start. A shorter tap calls neither; other modifiers never disturb a
// hold. Lives and calls back on the main thread.
class GlobalHotkeyService : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kDefaultTriggerKeyCode = modifier_keys::kRightOption;

    explicit GlobalHotkeyService(std::unique_ptr<ModifierKeySource> source, HotkeyTiming timing = {},
                                 QObject *parent = nullptr);
    ~GlobalHotkeyService() override;

    void setOnStart(std::function<void()> callback) { m_onStart = std::move(callback); }
    void setOnEnd(std::function<void()> callback) { m_onEnd = std::move(callback); }
    // Called as the talk key goes down, before anyone knows whether it becomes a hold: work that
    // a turn needs and that takes a while can start in the hold's own 0.4 s.
    void setOnPress(std::function<void()> callback) { m_onPress = std::move(callback); }

    // Starts watching the modifier keys, from a clean state. When the desktop refuses, the hotkey
    // simply never fires; there is no one to tell but the log.
    void registerHotkey();
    // Stops watching and forgets any hold in progress, without calling onEnd.
    void unregisterHotkey();

    quint16 triggerKeyCode() const { return m_triggerKeyCode; }
    // Another key from now on. A hold of the old key in progress is over: onEnd when it had
    // started, so that no turn is left listening for a release that no longer counts.
    void setTriggerKeyCode(quint16 keyCode);

    bool isRegistered() const { return m_registered; }
    bool isDown() const { return m_isDown; }

private:
    void handle(quint16 keyCode, quint64 flags);
    void thresholdReached();

    std::unique_ptr<ModifierKeySource> m_source;
    HotkeyTiming m_timing;
    quint16 m_triggerKeyCode = kDefaultTriggerKeyCode;
    std::function<void()> m_onStart;
    std::function<void()> m_onEnd;
    std::function<void()> m_onPress;
    QMetaObject::Connection m_connection;
    // A child, so that a test can find it and let the threshold pass without waiting for it.
    QTimer m_holdTimer{this};
    bool m_registered = false;
    bool m_isDown = false;
    bool m_didStart = false;
};

}  // namespace zapum
