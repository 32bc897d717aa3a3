#pragma once

#include "platform/linux/desktop_entries.h"
#include "platform/linux/x11/x11_display.h"

#include <QHash>
#include <QList>
#include <QRect>
#include <QString>

#include <optional>

namespace zapum::x11 {

enum class WindowKind {
    Normal,  // ordinary application windows and their dialogs
    Desktop,
    Dock,
    Notification,
    Auxiliary,  // toolbars, menus, splash screens, utility palettes and the like
};

// What we could learn about one top-level client window. Missing facts stay missing; the
// neutral reader fills the gaps.
struct ClientWindow {
    xcb_window_t window = XCB_NONE;
    bool viewable = false;
    std::optional<qint32> pid;
    std::optional<QString> wmInstance;
    std::optional<QString> wmClass;
    std::optional<QString> title;
    WindowKind kind = WindowKind::Normal;
    bool keepAbove = false;
    std::optional<QRect> frame;  // root coordinates, window manager decorations included
};

struct DesktopState {
    bool managed = false;  // an EWMH window manager is running
    QList<ClientWindow> bottomToTop;
    QList<xcb_window_t> mappingOrder;  // oldest first
    xcb_window_t active = XCB_NONE;
};

// One consistent reading of the desktop's top-level windows, in a handful of round trips.
// Without a window manager, the root's mapped top-level windows stand in for the client list.
DesktopState readDesktopState(X11Display &display);

// Names a window's owner the same way for the window list and the app list. processNames caches
// /proc reads for the duration of one listing.
std::optional<AppIdentity> identifyOwner(DesktopEntryIndex &index, const ClientWindow &window,
                                         QHash<qint32, QString> &processNames);

}  // namespace zapum::x11
