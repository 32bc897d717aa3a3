#pragma once

#include "platform/escape_key_watcher.h"

#include <QList>

#include <bitset>

class QSocketNotifier;
struct xcb_connection_t;

namespace zapum {

// Watches XInput2 raw key events on the root window over a connection of its own. Raw events
// reach every client that asks for them, whoever has the focus, and no key is grabbed, so the
// focused app keeps its keyboard. Raw events carry no modifier state, so the watcher follows the
// modifier keys itself and reports an Escape only while none is down.
class X11EscapeKeyWatcher : public EscapeKeyWatcher {
    Q_OBJECT
public:
    explicit X11EscapeKeyWatcher(QObject *parent = nullptr);
    ~X11EscapeKeyWatcher() override;

    bool start() override;
    void stop() override;

private:
    void drainEvents();

    xcb_connection_t *m_connection = nullptr;
    QSocketNotifier *m_notifier = nullptr;  // child; deleted later, as stop() may run inside its signal
    uint8_t m_inputOpcode = 0;
    QList<uint32_t> m_escapeKeycodes;
    std::bitset<256> m_modifierKeycodes;
    std::bitset<256> m_modifiersDown;
};

}  // namespace zapum
