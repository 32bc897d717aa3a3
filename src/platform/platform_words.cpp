#include "platform/platform_words.h"

#include "platform/modifier_key_source.h"

namespace zapum {

QString PlatformWords::keyName(quint16 keyCode) const
{
    switch (keyCode) {
    case modifier_keys::kRightControl: return rightControl;
    case modifier_keys::kRightCommand: return rightCommand;
    case modifier_keys::kRightShift: return rightShift;
    default: return rightOption;
    }
}

}  // namespace zapum
