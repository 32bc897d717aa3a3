#pragma once

#include "foundation/failure.h"

#include <QObject>

#include <memory>

namespace zapum {

// Modifier keys are named with the macOS virtual key codes and flag bits, whatever the desktop,
// so the hold-to-talk rules read the same on every back-end.
namespace modifier_keys {
inline constexpr quint16 kRightCommand = 54;
inline constexpr quint16 kLeftCommand = 55;
inline constexpr quint16 kLeftShift = 56;
inline constexpr quint16 kCapsLock = 57;
inline constexpr quint16 kLeftOption = 58;
inline constexpr quint16 kLeftControl = 59;
inline constexpr quint16 kRightShift = 60;
inline constexpr quint16 kRightOption = 61;  // Right Alt or AltGr
inline constexpr quint16 kRightControl = 62;
inline constexpr quint16 kFunction = 63;
}  // namespace modifier_keys

namespace modifier_flags {
inline constexpr quint64 kCapsLock = quint64(1) << 16;
inline constexpr quint64 kShift = quint64(1) << 17;
inline constexpr quint64 kControl = quint64(1) << 18;
inline constexpr quint64 kOption = quint64(1) << 19;
inline constexpr quint64 kCommand = quint64(1) << 20;
inline constexpr quint64 kFunction = quint64(1) << 23;
}  // namespace modifier_flags

// The flag that is set while the modifier with this key code is down; 0 for Caps Lock (its flag
// is the lock state, not the key) and for keys that are not modifiers. Twins share a flag.
constexpr quint64 flagForModifierKey(quint16 keyCode)
{
    using namespace modifier_keys;
    switch (keyCode) {
    case kRightCommand:
    case kLeftCommand:
        return modifier_flags::kCommand;
    case kLeftShift:
    case kRightShift:
        return modifier_flags::kShift;
    case kLeftOption:
    case kRightOption:
        return modifier_flags::kOption;
    case kLeftControl:
    case kRightControl:
        return modifier_flags::kControl;
    case kFunction:
        return modifier_flags::kFunction;
    default:
        return 0;
    }
}

// Reports every press and release of a modifier key anywhere on the desktop (this app's windows
// included) as the key that changed and the modifier flags after the change. Emits on the thread
// the source lives on.
class ModifierKeySource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts watching; a source that is already watching keeps doing so. Fails when the desktop
    // offers no way to see other applications' key events.
    virtual Status start() = 0;
    virtual void stop() = 0;

Q_SIGNALS:
    void modifierChanged(quint16 keyCode, quint64 flags);
};

// Implemented by the platform back-end.
std::unique_ptr<ModifierKeySource> createModifierKeySource();
// Whether the keyboard layout in use makes this key type characters while held (Right Alt as
// AltGr on most non-US layouts), so that holding it to talk gets in the way of typing.
bool modifierKeyTypesCharacters(quint16 keyCode);

}  // namespace zapum
