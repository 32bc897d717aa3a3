#include "platform/linux/session_kind.h"

#include <QString>

namespace zapum {

bool isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace zapum
