#pragma once

class QWindow;

namespace zapum {

// Marks a floating panel to show on every virtual desktop and to stay out of task lists and
// pagers, where the window flags alone do not say so. Call before the window is first shown.
void keepOnEveryDesktop(QWindow &window);

}  // namespace zapum
