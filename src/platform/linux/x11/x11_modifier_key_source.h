#pragma once

#include "platform/modifier_key_source.h"

#include <array>
#include <bitset>
#include <cstdint>

class QSocketNotifier;
struct xcb_connection_t;

namespace zapum {

// Modifier keys on X11, from XInput2 raw key events on the root window: they arrive for every
// keyboard and every client, this app's own windows included, without grabbing anything. Raw
// events carry no modifier state, so the source keeps track of which modifier keys are down and
// derives the flags itself; both Alt keys count for the option flag, as on a Mac.
class X11ModifierKeySource final : public ModifierKeySource {
    Q_OBJECT
public:
    explicit X11ModifierKeySource(QObject *parent = nullptr);
    ~X11ModifierKeySource() override;

    Status start() override;
    void stop() override;

    // The macOS key code for an X keysym, or 0 for keys that are not modifiers.
    static quint16 keyCodeForKeysym(std::uint32_t keysym);

private:
    void readEvents();
    void loadKeyboardMapping();
    void seedPressedKeys();
    void keyChanged(std::uint8_t keycode, bool pressed);
    quint64 currentFlags() const;

    xcb_connection_t *m_connection = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    std::uint8_t m_xinputOpcode = 0;
    std::array<quint16, 256> m_keyCodes{};  // X keycode → macOS key code, 0 when not a modifier
    std::bitset<256> m_pressed;
    bool m_capsLock = false;
};

}  // namespace zapum
