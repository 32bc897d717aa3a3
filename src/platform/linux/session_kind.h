#pragma once

namespace zapum {

// A Wayland session may still give us an X display (XWayland), but that one sees only other X
// clients: capturing it or clicking into it does not reach the user's desktop.
bool isWaylandSession();

}  // namespace zapum
