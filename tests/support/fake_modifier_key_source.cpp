#include "support/fake_modifier_key_source.h"

namespace zapum::test {

namespace {

quint64 flagFor(quint16 keyCode)
{
    using namespace modifier_keys;
    switch (keyCode) {
    case kLeftShift:
    case kRightShift:
        return modifier_flags::kShift;
    case kLeftControl:
    case kRightControl:
        return modifier_flags::kControl;
    case kLeftOption:
    case kRightOption:
        return modifier_flags::kOption;
    case kLeftCommand:
    case kRightCommand:
        return modifier_flags::kCommand;
    case kFunction:
        return modifier_flags::kFunction;
    default:
        return 0;
    }
}

}  // namespace

void FakeModifierKeySource::change(quint16 keyCode, bool down)
{
    m_held.removeAll(keyCode);
    if (down)
        m_held.append(keyCode);
    quint64 flags = 0;
    for (quint16 held : std::as_const(m_held))
        flags |= flagFor(held);
    m_lastKey = keyCode;
    m_lastFlags = flags;
    Q_EMIT modifierChanged(keyCode, flags);
}

}  // namespace zapum::test
