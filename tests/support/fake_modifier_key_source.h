#pragma once

#include "platform/modifier_key_source.h"

#include <QHash>

namespace zapum::test {

// A modifier-key source driven by the test. It remembers which modifiers are held and reports each
// change with the flags a real source would give: both Alt keys share the option flag.
class FakeModifierKeySource : public ModifierKeySource {
    Q_OBJECT
public:
    using ModifierKeySource::ModifierKeySource;

    Status start() override
    {
        running = true;
        return Done{};
    }
    void stop() override { running = false; }

    void press(quint16 keyCode) { change(keyCode, true); }
    void release(quint16 keyCode) { change(keyCode, false); }
    // The last change once more, as injected or repeated keys sometimes arrive.
    void repeatLast() { Q_EMIT modifierChanged(m_lastKey, m_lastFlags); }

    bool running = false;

private:
    void change(quint16 keyCode, bool down)
    {
        m_held.insert(keyCode, down);
        m_lastKey = keyCode;
        m_lastFlags = 0;
        for (auto held = m_held.cbegin(); held != m_held.cend(); ++held)
            m_lastFlags |= held.value() ? flagForModifierKey(held.key()) : 0;
        Q_EMIT modifierChanged(m_lastKey, m_lastFlags);
    }

    QHash<quint16, bool> m_held;
    quint16 m_lastKey = 0;
    quint64 m_lastFlags = 0;
};

}  // namespace zapum::test
