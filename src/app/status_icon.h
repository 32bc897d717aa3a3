#pragma once

#include <QIcon>

namespace zapum {

enum class StatusDot { None, SignedIn, Paused };

// The tray icon: a honey-coloured hexagon, with a small status dot in its lower right corner.
QIcon statusIcon(StatusDot dot);

}  // namespace zapum
