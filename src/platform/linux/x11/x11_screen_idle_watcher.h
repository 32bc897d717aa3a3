#pragma once

#include "platform/screen_idle_watcher.h"

class QSocketNotifier;
struct xcb_connection_t;

namespace zapum {

// Follows the X server's screen saver (MIT-SCREEN-SAVER) over a connection of its own: the server
// announces when it blanks the screen or hands it to a saver or locker, and when it comes back.
class X11ScreenIdleWatcher : public ScreenIdleWatcher {
    Q_OBJECT
public:
    explicit X11ScreenIdleWatcher(QObject *parent = nullptr);
    ~X11ScreenIdleWatcher() override;

    // False when there is no display or it lacks the extension; the screen then counts as shown.
    bool start();
    bool isScreenIdle() const override { return m_idle; }

private:
    void drainEvents();
    void stop();

    xcb_connection_t *m_connection = nullptr;
    QSocketNotifier *m_notifier = nullptr;  // child; deleted later, as stop() may run inside its signal
    uint8_t m_firstEvent = 0;
    bool m_idle = false;
};

}  // namespace zapum
