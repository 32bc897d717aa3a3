#include "platform/floating_window.h"

#include "platform/linux/x11/x11_display.h"

#include <QWindow>

#include <xcb/xcb.h>

#include <array>

namespace zapum {

using x11::internAtom;

void keepOnEveryDesktop(QWindow &window)
{
    xcb_connection_t *connection = x11::toolkitConnection();
    if (!connection)
        return;
    const auto id = xcb_window_t(window.winId());

    // Before mapping, the window manager reads these properties as the initial state; Qt adds
    // its own states (keep-above) to the list rather than replacing it.
    const std::array<xcb_atom_t, 3> states{internAtom(connection, "_NET_WM_STATE_STICKY"),
                                           internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                           internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, id, internAtom(connection, "_NET_WM_STATE"),
                        XCB_ATOM_ATOM, 32, uint32_t(states.size()), states.data());
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, internAtom(connection, "_NET_WM_DESKTOP"),
                        XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    xcb_flush(connection);
}

}  // namespace zapum
