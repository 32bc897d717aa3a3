#pragma once

#include "platform/screen_capture.h"

namespace zapum::x11 {

// Captures through the GUI toolkit's primary screen. Any X client may read the screen, so access
// is simply whether a grab returns an image; a Wayland session never grants it.
class X11ScreenCapture final : public ScreenCapture {
public:
    bool hasAccess() override;
    void requestAccess() override {}  // X11 has nobody to ask
    QImage captureMainDisplay() override;
    QString refusalMessage() const override;
};

}  // namespace zapum::x11
