#include "platform/linux/x11/x11_display.h"

#include "foundation/logging.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/res.h>
#include <xcb/xtest.h>

#include <cstring>

namespace zapum::x11 {

QList<quint32> propertyItems(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 32)
        return {};
    const int count = xcb_get_property_value_length(reply) / 4;
    const auto *values = static_cast<const quint32 *>(xcb_get_property_value(reply));
    return QList<quint32>(values, values + count);
}

std::optional<QByteArray> propertyBytes(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                      xcb_get_property_value_length(reply));
}

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    const auto reply = takeReply(xcb_intern_atom_reply, connection, cookie);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_connection_t *toolkitConnection()
{
    // Other platform plugins (offscreen, Wayland) have no X connection for their windows.
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

namespace {

bool extensionPresent(xcb_connection_t *connection, xcb_extension_t *extension)
{
    const xcb_query_extension_reply_t *data = xcb_get_extension_data(connection, extension);
    return data && data->present;
}

}  // namespace

X11Display::X11Display(const QByteArray &displayName)
{
    m_connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &m_screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        qCInfo(lcPlatform) << "no X server to read windows from";
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; screens.rem && i < m_screenNumber; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return;
    m_root = screens.data->root;

    xcb_intern_atom_cookie_t *cookies = xcb_ewmh_init_atoms(m_connection, &m_ewmh);
    m_ewmhReady = xcb_ewmh_init_atoms_replies(&m_ewmh, cookies, nullptr) != 0;
    m_clientLeader = internAtom(m_connection, "WM_CLIENT_LEADER");
    m_compoundText = internAtom(m_connection, "COMPOUND_TEXT");
    m_hasXTest = extensionPresent(m_connection, &xcb_test_id);
    m_hasXRes = extensionPresent(m_connection, &xcb_res_id);
}

X11Display::~X11Display()
{
    if (m_ewmhReady)
        xcb_ewmh_connection_wipe(&m_ewmh);
    xcb_disconnect(m_connection);
}

bool X11Display::isUsable() const
{
    return m_root != XCB_NONE && m_ewmhReady && xcb_connection_has_error(m_connection) == 0;
}

void X11Display::discardQueuedEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        std::free(event);
}

xcb_connection_t *connectWatcher()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return connection;
}

void closeWatchedConnection(QSocketNotifier *&notifier, xcb_connection_t *&connection)
{
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }
    if (connection)
        xcb_disconnect(connection);
    connection = nullptr;
}

}  // namespace zapum::x11
