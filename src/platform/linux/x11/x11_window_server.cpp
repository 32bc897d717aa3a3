#include "platform/linux/x11/x11_window_server.h"

#include "platform/linux/desktop_entries.h"
#include "platform/linux/x11/x11_desktop_state.h"

namespace zapum::x11 {

namespace {

qint64 layerOf(const ClientWindow &window)
{
    switch (window.kind) {
    case WindowKind::Desktop: return kDesktopLayer;
    case WindowKind::Dock: return kDockLayer;
    case WindowKind::Notification: return kNotificationLayer;
    case WindowKind::Normal:
    case WindowKind::Auxiliary: break;
    }
    return window.keepAbove ? kKeepAboveLayer : 0;
}

}  // namespace

X11WindowServer::X11WindowServer(std::shared_ptr<X11Display> display, std::shared_ptr<DesktopEntryIndex> entries)
    : m_display(std::move(display)), m_entries(std::move(entries))
{
}

QList<WindowServerEntry> X11WindowServer::onScreenWindows()
{
    const DesktopState state = readDesktopState(*m_display);
    m_entries->refreshIfChanged();
    QHash<qint32, QString> processNames;
    QList<WindowServerEntry> entries;
    entries.reserve(state.bottomToTop.size());
    for (auto it = state.bottomToTop.crbegin(); it != state.bottomToTop.crend(); ++it) {
        const ClientWindow &window = *it;
        if (!window.viewable)
            continue;  // minimised, or on another workspace
        WindowServerEntry entry;
        entry.number = window.window;
        entry.layer = layerOf(window);
        entry.ownerPid = window.pid;
        if (const auto owner = identifyOwner(*m_entries, window, processNames))
            entry.ownerName = owner->name;
        entry.title = window.title;
        if (window.frame) {
            entry.bounds = {double(window.frame->x()), double(window.frame->y()), double(window.frame->width()),
                            double(window.frame->height())};
        }
        entries.append(std::move(entry));
    }
    return entries;
}

}  // namespace zapum::x11
