#include "platform/floating_panel.h"

#include "foundation/logging.h"
#include "platform/linux/x11/x11_display.h"
#include "platform/linux/x11/xsettings.h"

#include <QFile>
#include <QGuiApplication>
#include <QRegion>
#include <QStandardPaths>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace zapum {

namespace {

xcb_window_t rootOf(xcb_connection_t *c)
{
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

// EWMH: a mapped window asks the window manager to change its state with a client message.
void sendWmMessage(xcb_connection_t *c, xcb_window_t window, xcb_atom_t type, std::array<uint32_t, 5> data)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    for (size_t i = 0; i < data.size(); ++i)
        event.data.data32[i] = data[i];
    xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

}  // namespace

void applyFloatingPanelHints(QWindow &window)
{
    xcb_connection_t *c = x11::toolkitConnection();
    if (!c) {
        qCInfo(lcPlatform) << "not on X11: the companion panel keeps Qt's own window hints";
        return;
    }
    const xcb_window_t id = xcb_window_t(window.winId());
    const xcb_atom_t wmState = x11::internAtom(c, "_NET_WM_STATE");
    const xcb_atom_t wmDesktop = x11::internAtom(c, "_NET_WM_DESKTOP");
    constexpr uint32_t kAdd = 1;
    constexpr uint32_t kSourceApplication = 1;
    constexpr uint32_t kAllDesktops = 0xFFFFFFFF;

    sendWmMessage(c, id, wmDesktop, {kAllDesktops, kSourceApplication, 0, 0, 0});
    const xcb_atom_t sticky = x11::internAtom(c, "_NET_WM_STATE_STICKY");
    const xcb_atom_t above = x11::internAtom(c, "_NET_WM_STATE_ABOVE");
    const xcb_atom_t skipTaskbar = x11::internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t skipPager = x11::internAtom(c, "_NET_WM_STATE_SKIP_PAGER");
    sendWmMessage(c, id, wmState, {kAdd, sticky, above, kSourceApplication, 0});
    sendWmMessage(c, id, wmState, {kAdd, skipTaskbar, skipPager, kSourceApplication, 0});
    xcb_flush(c);
}

void setFloatingPanelInputRegion(QWindow &window, const QRegion &region)
{
    xcb_connection_t *c = x11::toolkitConnection();
    if (!c)
        return;
    const xcb_query_extension_reply_t *shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present) {
        static bool told = false;
        if (!std::exchange(told, true))
            qCInfo(lcPlatform) << "no SHAPE extension: the companion panel takes clicks on its whole square";
        return;
    }
    // The input shape is in device pixels; round outwards so nothing drawn loses its edge.
    const qreal scale = window.devicePixelRatio();
    std::vector<xcb_rectangle_t> rectangles;
    for (const QRect &r : region) {
        const QRect px = QRectF(r.x() * scale, r.y() * scale, r.width() * scale, r.height() * scale).toAlignedRect();
        rectangles.push_back({int16_t(px.x()), int16_t(px.y()), uint16_t(px.width()), uint16_t(px.height())});
    }
    // The input kind, not the bounding one: the window's drawing (glows, the card's entrance) is
    // never clipped.
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         xcb_window_t(window.winId()), 0, 0, uint32_t(rectangles.size()), rectangles.data());
    xcb_flush(c);
}

bool desktopPrefersReducedMotion()
{
    if (xcb_connection_t *c = x11::toolkitConnection()) {
        // The XSETTINGS manager (gnome-settings-daemon, xfsettsd, ...) owns _XSETTINGS_S0 and
        // publishes the desktop's switches on its window.
        const auto owner = x11::takeReply(xcb_get_selection_owner_reply, c,
                                          xcb_get_selection_owner(c, x11::internAtom(c, "_XSETTINGS_S0")));
        if (owner && owner->owner != XCB_WINDOW_NONE) {
            const xcb_atom_t settingsAtom = x11::internAtom(c, "_XSETTINGS_SETTINGS");
            const auto property = x11::takeReply(
                xcb_get_property_reply, c, xcb_get_property(c, 0, owner->owner, settingsAtom, settingsAtom, 0, 64 * 1024));
            if (const std::optional<QByteArray> bytes = x11::propertyBytes(property.get())) {
                if (const auto enabled = readXSetting(*bytes, "Gtk/EnableAnimations"); enabled && enabled->canConvert<int>())
                    return enabled->toInt() == 0;
            }
        }
    }
    const QString configDir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const char *file : {"/gtk-4.0/settings.ini", "/gtk-3.0/settings.ini"}) {
        QFile ini(configDir + QLatin1String(file));
        if (!ini.open(QIODevice::ReadOnly))
            continue;
        if (const auto enabled = gtkIniEnablesAnimations(QString::fromUtf8(ini.read(256 * 1024))))
            return !*enabled;
    }
    return false;
}

}  // namespace zapum
