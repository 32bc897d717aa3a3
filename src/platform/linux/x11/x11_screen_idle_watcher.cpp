#include "platform/linux/x11/x11_screen_idle_watcher.h"

#include "foundation/logging.h"
#include "platform/linux/x11/x11_display.h"

#include <QSocketNotifier>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace zapum {

X11ScreenIdleWatcher::X11ScreenIdleWatcher(QObject *parent) : ScreenIdleWatcher(parent) {}

X11ScreenIdleWatcher::~X11ScreenIdleWatcher()
{
    stop();
}

bool X11ScreenIdleWatcher::start()
{
    if (m_connection)
        return true;
    xcb_connection_t *connection = x11::connectWatcher();
    if (!connection)
        return false;
    const xcb_query_extension_reply_t *saver = xcb_get_extension_data(connection, &xcb_screensaver_id);
    if (!saver || !saver->present) {
        qCInfo(lcPlatform) << "the display does not report its screen saver; animations run while it is blank";
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    // Selected before the state is read, so a change in between still arrives as an event.
    xcb_screensaver_select_input(connection, root, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
    x11::XcbPtr<xcb_screensaver_query_info_reply_t> info(
        x11::takeReply(xcb_screensaver_query_info_reply, connection, xcb_screensaver_query_info(connection, root)));
    m_idle = info && info->state == XCB_SCREENSAVER_STATE_ON;

    m_connection = connection;
    m_firstEvent = saver->first_event;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11ScreenIdleWatcher::drainEvents);
    // The reply may have brought events along that the socket will not announce again.
    drainEvents();
    return true;
}

void X11ScreenIdleWatcher::stop()
{
    x11::closeWatchedConnection(m_notifier, m_connection);
}

void X11ScreenIdleWatcher::drainEvents()
{
    bool idle = m_idle;
    while (m_connection) {
        x11::XcbPtr<xcb_generic_event_t> event(xcb_poll_for_event(m_connection));
        if (!event)
            break;
        if ((event->response_type & 0x7f) != m_firstEvent + XCB_SCREENSAVER_NOTIFY)
            continue;
        // Cycle (a saver changing its picture) leaves the screen covered.
        const auto state = reinterpret_cast<const xcb_screensaver_notify_event_t *>(event.get())->state;
        if (state == XCB_SCREENSAVER_STATE_ON || state == XCB_SCREENSAVER_STATE_CYCLE)
            idle = true;
        else if (state == XCB_SCREENSAVER_STATE_OFF)
            idle = false;
    }
    if (m_connection && xcb_connection_has_error(m_connection)) {
        qCWarning(lcPlatform) << "lost the display connection used to follow the screen saver";
        stop();
        idle = false;
    }
    if (idle != m_idle) {
        m_idle = idle;
        Q_EMIT screenIdleChanged(m_idle);
    }
}

std::unique_ptr<ScreenIdleWatcher> createScreenIdleWatcher()
{
    auto watcher = std::make_unique<X11ScreenIdleWatcher>();
    if (watcher->start())
        return watcher;
    return std::make_unique<ScreenIdleWatcher>();
}

}  // namespace zapum
