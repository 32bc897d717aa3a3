#include "platform/desktop_backends.h"

#include "platform/linux/desktop_entries.h"
#include "platform/linux/x11/x11_display.h"
#include "platform/linux/x11/x11_input_synthesizer.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/linux/x11/x11_window_server.h"
#include "platform/linux/x11/x11_workspace.h"

namespace zapum {

DesktopBackends openDesktopBackends()
{
    auto display = std::make_shared<x11::X11Display>();
    auto entries = std::make_shared<DesktopEntryIndex>();
    DesktopBackends backends;
    backends.windowServer = std::make_unique<x11::X11WindowServer>(display, entries);
    backends.workspace = std::make_unique<x11::X11Workspace>(display, entries);
    backends.screenCapture = std::make_unique<x11::X11ScreenCapture>();
    backends.inputSynthesizer = std::make_unique<x11::X11InputSynthesizer>(display);
    return backends;
}

}  // namespace zapum
