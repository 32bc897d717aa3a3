#pragma once

#include <QObject>

namespace zapum {

// The three app-wide announcements between the views and the companion manager. One instance,
// built by the composition root and handed to whoever posts or observes; a poster never knows who
// listens.
class AppNotifications : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    // The bee's conversation state changed (posted by the bee view).
    void voiceStateChanged();
    // The stored companion size changed (posted by the bee view and the settings window).
    void companionLayoutChanged();
    // The guidance popover opened or closed.
    void popoverVisibilityChanged(bool open);
};

}  // namespace zapum
