#include "platform/floating_window.h"

#include "platform/linux/x11/x11_display.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QWindow>

#include <xcb/xcb.h>

#include <array>
#include <cstring>

namespace zapum {
namespace {

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const auto reply = x11::takeReply(xcb_intern_atom_reply, connection,
                                      xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

}  // namespace

void keepOnEveryDesktop(QWindow &window)
{
    // Other platform plugins (offscreen, Wayland) have no X connection to set properties on.
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
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
