#pragma once

class QRegion;
class QWindow;

namespace zapum {

// What the window system needs to hear, beyond Qt's window flags, for a companion panel: shown on
// every workspace, kept above ordinary windows, left out of the task bar and the pager. Call it
// after the window is shown; calling it again is harmless.
void applyFloatingPanelHints(QWindow &window);

// Takes pointer input only inside `region` (window coordinates); presses anywhere else in the
// window reach whatever lies below it. A window that was never given a region takes all input.
void setFloatingPanelInputRegion(QWindow &window, const QRegion &region);

// Whether the desktop asks for animations to be kept to a minimum; false when it says nothing.
bool desktopPrefersReducedMotion();

}  // namespace zapum
