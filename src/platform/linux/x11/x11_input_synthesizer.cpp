#include "platform/linux/x11/x11_input_synthesizer.h"

#include "foundation/logging.h"
#include "platform/linux/session_kind.h"
#include "platform/linux/x11/x11_display.h"

#include <xcb/xtest.h>

#include <cmath>
#include <limits>

namespace zapum::x11 {

X11InputSynthesizer::X11InputSynthesizer(std::shared_ptr<X11Display> display) : m_display(std::move(display)) {}

bool X11InputSynthesizer::isTrusted()
{
    return !isWaylandSession() && m_display->isUsable() && m_display->hasXTest();
}

QString X11InputSynthesizer::untrustedMessage() const
{
    if (isWaylandSession())
        return QStringLiteral("ZaPum cannot click on a Wayland desktop — log in to an X11 session to let it click.");
    if (!m_display->isUsable())
        return QStringLiteral("ZaPum cannot click: it has no connection to the X server.");
    if (!m_display->hasXTest())
        return QStringLiteral("ZaPum cannot click: this X server does not offer synthetic input (XTEST).");
    return {};
}

bool X11InputSynthesizer::postLeftClick(QPointF point)
{
    if (!isTrusted())
        return false;
    // The protocol carries 16-bit coordinates; anything else would wrap around and click
    // somewhere the caller never asked for.
    const double x = std::round(point.x());
    const double y = std::round(point.y());
    constexpr double low = std::numeric_limits<int16_t>::min();
    constexpr double high = std::numeric_limits<int16_t>::max();
    if (!std::isfinite(x) || !std::isfinite(y) || x < low || x > high || y < low || y > high) {
        qCWarning(lcDesktop) << "click refused: point out of the X coordinate range" << point;
        return false;
    }

    xcb_connection_t *c = m_display->connection();
    // XTEST delivers button events wherever the pointer is, so it has to be moved there first.
    const auto motion = xcb_test_fake_input_checked(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_display->root(),
                                                    int16_t(x), int16_t(y), XCB_NONE);
    const auto press =
        xcb_test_fake_input_checked(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, XCB_NONE);
    const auto release =
        xcb_test_fake_input_checked(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, XCB_NONE);
    bool posted = true;
    for (const xcb_void_cookie_t cookie : {motion, press, release}) {
        if (xcb_generic_error_t *error = xcb_request_check(c, cookie)) {
            posted = false;
            std::free(error);
        }
    }
    return posted;
}

}  // namespace zapum::x11
