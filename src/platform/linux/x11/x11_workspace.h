#pragma once

#include "platform/workspace.h"

#include <memory>

namespace zapum {
class DesktopEntryIndex;
}

namespace zapum::x11 {

class X11Display;

// Apps on X11 are processes owning managed top-level windows: regular when one of them is an
// ordinary window (or a dialog), an accessory when they are all docks, panels and the like.
// This process always counts as a regular app, windows or not.
class X11Workspace final : public Workspace {
public:
    X11Workspace(std::shared_ptr<X11Display> display, std::shared_ptr<DesktopEntryIndex> entries);

    QList<RunningApplication> runningApplications() override;
    bool activateApp(qint32 pid) override;
    Status openPrivacySettings(PrivacyPane pane) override;

private:
    std::shared_ptr<X11Display> m_display;
    std::shared_ptr<DesktopEntryIndex> m_entries;
};

}  // namespace zapum::x11
