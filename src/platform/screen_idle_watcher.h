#pragma once

#include <QObject>

#include <memory>

namespace zapum {

// Whether the screen is blanked or a screen saver or locker covers it: nothing drawn then is seen,
// so animations pause. This base reports a screen always shown, for desktops that cannot tell.
class ScreenIdleWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isScreenIdle() const { return false; }

Q_SIGNALS:
    void screenIdleChanged(bool idle);
};

std::unique_ptr<ScreenIdleWatcher> createScreenIdleWatcher();

}  // namespace zapum
