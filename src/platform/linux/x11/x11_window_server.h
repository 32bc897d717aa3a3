#pragma once

#include "platform/window_server.h"

#include <memory>

namespace zapum {
class DesktopEntryIndex;
}

namespace zapum::x11 {

class X11Display;

// Layers on X11, borrowed from the window levels the assistant's model knows best: keep-above
// windows float like panels, docks sit at the Dock's level and notifications above that.
// Desktop windows are below everything and drop out of the list.
inline constexpr qint64 kDesktopLayer = -1;
inline constexpr qint64 kKeepAboveLayer = 3;
inline constexpr qint64 kDockLayer = 20;
inline constexpr qint64 kNotificationLayer = 25;

// The managed top-level windows from _NET_CLIENT_LIST_STACKING (mapped ones only), with their
// frame geometry in root coordinates.
class X11WindowServer final : public WindowServer {
public:
    X11WindowServer(std::shared_ptr<X11Display> display, std::shared_ptr<DesktopEntryIndex> entries);

    QList<WindowServerEntry> onScreenWindows() override;

private:
    std::shared_ptr<X11Display> m_display;
    std::shared_ptr<DesktopEntryIndex> m_entries;
};

}  // namespace zapum::x11
