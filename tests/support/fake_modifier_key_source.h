#pragma once

#include "platform/modifier_key_source.h"

namespace zapum::test {

// A modifier-key source driven by the test: it keeps a keyboard of held modifiers and reports each
// change with the flags a real source would give, both Alt keys sharing the option flag.
class FakeModifierKeySource : public ModifierKeySource {
    Q_OBJECT
public:
    using ModifierKeySource::ModifierKeySource;

    Status start() override
    {
        ++starts;
        running = true;
        return Done{};
    }
    void stop() override { running = false; }

    void press(quint16 keyCode) { change(keyCode, true); }
    void release(quint16 keyCode) { change(keyCode, false); }
    // The last change once more, as injected or repeated keys sometimes arrive.
    void repeatLast() { Q_EMIT modifierChanged(m_lastKey, m_lastFlags); }

    int starts = 0;
    bool running = false;

private:
    void change(quint16 keyCode, bool down);

    QList<quint16> m_held;
    quint16 m_lastKey = 0;
    quint64 m_lastFlags = 0;
};

}  // namespace zapum::test
