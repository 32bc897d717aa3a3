#pragma once

#include "foundation/failure.h"

#include <QList>
#include <QString>

#include <optional>

namespace zapum {

enum class ActivationPolicy {
    Regular,         // has ordinary windows the user works in
    Accessory,       // only panels, docks and the like
    BackgroundOnly,  // no windows at all
};

struct RunningApplication {
    qint32 pid = 0;
    ActivationPolicy policy = ActivationPolicy::Regular;
    std::optional<QString> localizedName;
    std::optional<QString> bundleId;
    bool isActive = false;
};

enum class PrivacyPane { ScreenCapture, Accessibility };

// The running applications and what can be done to them as a whole.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Every running application the platform knows of, in its own order.
    virtual QList<RunningApplication> runningApplications() = 0;
    // Brings every window of the app forward, even while another app is active. False when the
    // app has no window that could be brought forward.
    virtual bool activateApp(qint32 pid) = 0;
    // Opens the desktop's settings for that permission; a Failure whose message explains the
    // situation when the desktop has no such settings.
    virtual Status openPrivacySettings(PrivacyPane pane) = 0;
};

}  // namespace zapum
