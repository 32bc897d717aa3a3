#pragma once

#include "platform/input_synthesizer.h"
#include "platform/screen_capture.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

#include <memory>

namespace zapum {

// The platform's implementations of the desktop concerns, built once by the composition root.
struct DesktopBackends {
    std::unique_ptr<WindowServer> windowServer;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<ScreenCapture> screenCapture;
    std::unique_ptr<InputSynthesizer> inputSynthesizer;
};

// Implemented by the platform back-end. Never fails: without a usable display the back-ends
// report empty lists and refuse captures and clicks with a reason.
DesktopBackends openDesktopBackends();

}  // namespace zapum
