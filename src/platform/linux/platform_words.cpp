#include "platform/platform_words.h"

namespace zapum {

// The words of a Linux desktop: a PC keyboard (Super is the Windows-logo key) and a taskbar or
// panel along the bottom of the screen.
const PlatformWords &platformWords()
{
    static const PlatformWords words{
        QStringLiteral("computer"),
        QStringLiteral("the taskbar"),
        QStringLiteral("the bottom of the screen"),
        QStringLiteral("Right Alt"),
        QStringLiteral("Right Ctrl"),
        QStringLiteral("Right Super"),
        QStringLiteral("Right Shift"),
        QStringLiteral("AltGr"),
    };
    return words;
}

}  // namespace zapum
