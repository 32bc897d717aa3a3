#include "platform/linux/x11/x11_desktop_state.h"

#include <xcb/res.h>

#include <algorithm>

namespace zapum::x11 {

namespace {

// Generous bounds for property reads, in 32-bit units.
constexpr uint32_t kMaxWindows = 16384;
constexpr uint32_t kMaxTextLongs = 2048;

xcb_get_property_cookie_t getProperty(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type, uint32_t longs)
{
    return xcb_get_property(c, 0, window, property, type, 0, longs);
}

QList<quint32> items(xcb_connection_t *c, xcb_get_property_cookie_t cookie)
{
    return propertyItems(takeReply(xcb_get_property_reply, c, cookie).get());
}

QString withoutTrailingNuls(QString text)
{
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

// WM_NAME is whatever encoding the client chose; COMPOUND_TEXT without escape sequences is Latin-1.
std::optional<QString> decodeWmName(const X11Display &display, const xcb_get_property_reply_t *reply)
{
    const std::optional<QByteArray> bytes = propertyBytes(reply);
    if (!bytes)
        return std::nullopt;
    const bool latin1 = reply->type == XCB_ATOM_STRING
                        || (reply->type == display.compoundTextAtom() && !bytes->contains('\x1b'));
    return withoutTrailingNuls(latin1 ? QString::fromLatin1(*bytes) : QString::fromUtf8(*bytes));
}

void applyWmClass(ClientWindow &client, const std::optional<QByteArray> &bytes)
{
    if (!bytes)
        return;
    const QList<QByteArray> parts = bytes->split('\0');
    const QString instance = QString::fromLocal8Bit(parts.value(0));
    const QString className = QString::fromLocal8Bit(parts.value(1));
    if (!instance.isEmpty())
        client.wmInstance = instance;
    if (!className.isEmpty())
        client.wmClass = className;
}

std::optional<qint32> pidOf(const QList<quint32> &values)
{
    if (values.isEmpty() || values.first() == 0 || values.first() > quint32(INT32_MAX))
        return std::nullopt;
    return qint32(values.first());
}

WindowKind kindOf(const xcb_ewmh_connection_t &a, const QList<quint32> &types)
{
    // The first type the window manager knows is the one that counts.
    for (const quint32 type : types) {
        if (type == a._NET_WM_WINDOW_TYPE_NORMAL || type == a._NET_WM_WINDOW_TYPE_DIALOG)
            return WindowKind::Normal;
        if (type == a._NET_WM_WINDOW_TYPE_DESKTOP)
            return WindowKind::Desktop;
        if (type == a._NET_WM_WINDOW_TYPE_DOCK)
            return WindowKind::Dock;
        if (type == a._NET_WM_WINDOW_TYPE_NOTIFICATION)
            return WindowKind::Notification;
        for (const xcb_atom_t auxiliary :
             {a._NET_WM_WINDOW_TYPE_TOOLBAR, a._NET_WM_WINDOW_TYPE_MENU, a._NET_WM_WINDOW_TYPE_UTILITY,
              a._NET_WM_WINDOW_TYPE_SPLASH, a._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, a._NET_WM_WINDOW_TYPE_POPUP_MENU,
              a._NET_WM_WINDOW_TYPE_TOOLTIP, a._NET_WM_WINDOW_TYPE_COMBO, a._NET_WM_WINDOW_TYPE_DND}) {
            if (type == auxiliary)
                return WindowKind::Auxiliary;
        }
    }
    return WindowKind::Normal;
}

struct PendingWindow {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t pid, wmClass, netName, wmName, type, state, extents, leader;
};

// Reads every window in one batch of requests and one wait for the replies. With unmanagedOnly,
// override-redirect and unmapped windows are dropped (no window manager decides for us then).
QList<ClientWindow> readClients(X11Display &display, const QList<xcb_window_t> &windows, bool unmanagedOnly)
{
    xcb_connection_t *c = display.connection();
    const xcb_ewmh_connection_t &a = display.atoms();
    QList<PendingWindow> pending;
    pending.reserve(windows.size());
    for (const xcb_window_t w : windows) {
        pending.append({xcb_get_window_attributes(c, w), xcb_get_geometry(c, w),
                        xcb_translate_coordinates(c, w, display.root(), 0, 0),
                        getProperty(c, w, a._NET_WM_PID, XCB_ATOM_CARDINAL, 1),
                        getProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kMaxTextLongs),
                        getProperty(c, w, a._NET_WM_NAME, a.UTF8_STRING, kMaxTextLongs),
                        getProperty(c, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kMaxTextLongs),
                        getProperty(c, w, a._NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM, 64),
                        getProperty(c, w, a._NET_WM_STATE, XCB_ATOM_ATOM, 64),
                        getProperty(c, w, a._NET_FRAME_EXTENTS, XCB_ATOM_CARDINAL, 4),
                        getProperty(c, w, display.clientLeaderAtom(), XCB_ATOM_WINDOW, 1)});
    }

    QList<ClientWindow> clients;
    QList<xcb_window_t> leaders;
    clients.reserve(windows.size());
    for (qsizetype i = 0; i < windows.size(); ++i) {
        const PendingWindow &p = pending[i];
        const auto attributes = takeReply(xcb_get_window_attributes_reply, c, p.attributes);
        const auto geometry = takeReply(xcb_get_geometry_reply, c, p.geometry);
        const auto origin = takeReply(xcb_translate_coordinates_reply, c, p.origin);
        const auto pid = items(c, p.pid);
        const auto wmClass = takeReply(xcb_get_property_reply, c, p.wmClass);
        const auto netName = takeReply(xcb_get_property_reply, c, p.netName);
        const auto wmName = takeReply(xcb_get_property_reply, c, p.wmName);
        const auto types = items(c, p.type);
        const auto states = items(c, p.state);
        const auto extents = items(c, p.extents);
        const auto leader = items(c, p.leader);
        if (!attributes)
            continue;  // gone since it was listed
        ClientWindow client;
        client.window = windows[i];
        client.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        if (unmanagedOnly && (attributes->override_redirect || !client.viewable))
            continue;
        client.pid = pidOf(pid);
        applyWmClass(client, propertyBytes(wmClass.get()));
        if (const auto utf8 = propertyBytes(netName.get()))
            client.title = withoutTrailingNuls(QString::fromUtf8(*utf8));
        else
            client.title = decodeWmName(display, wmName.get());
        client.kind = kindOf(a, types);
        client.keepAbove = states.contains(a._NET_WM_STATE_ABOVE);
        if (geometry && origin) {
            const int border = geometry->border_width;
            QRect frame(origin->dst_x - border, origin->dst_y - border, geometry->width + 2 * border,
                        geometry->height + 2 * border);
            if (extents.size() == 4)
                frame.adjust(-int(extents[0]), -int(extents[2]), int(extents[1]), int(extents[3]));
            client.frame = frame;
        }
        clients.append(std::move(client));
        leaders.append(leader.isEmpty() ? XCB_NONE : leader.first());
    }

    // Some clients put their pid and class only on the group's leader window.
    QList<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> leaderCookies(clients.size());
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const xcb_window_t l = leaders[i];
        if (l != XCB_NONE && l != clients[i].window && (!clients[i].pid || !clients[i].wmClass)) {
            leaderCookies[i] = {getProperty(c, l, a._NET_WM_PID, XCB_ATOM_CARDINAL, 1),
                                getProperty(c, l, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kMaxTextLongs)};
        } else {
            leaders[i] = XCB_NONE;
        }
    }
    for (qsizetype i = 0; i < clients.size(); ++i) {
        if (leaders[i] == XCB_NONE)
            continue;
        const auto leaderPid = items(c, leaderCookies[i].first);
        const auto leaderClass = takeReply(xcb_get_property_reply, c, leaderCookies[i].second);
        if (!clients[i].pid)
            clients[i].pid = pidOf(leaderPid);
        if (!clients[i].wmClass && !clients[i].wmInstance)
            applyWmClass(clients[i], propertyBytes(leaderClass.get()));
    }

    // Last resort for the pid: the X server knows the process behind a local connection.
    if (display.hasXRes()) {
        QList<std::pair<qsizetype, xcb_res_query_client_ids_cookie_t>> queries;
        for (qsizetype i = 0; i < clients.size(); ++i) {
            if (clients[i].pid)
                continue;
            const xcb_res_client_id_spec_t spec{clients[i].window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            queries.append({i, xcb_res_query_client_ids(c, 1, &spec)});
        }
        for (const auto &[index, cookie] : queries) {
            const auto reply = takeReply(xcb_res_query_client_ids_reply, c, cookie);
            if (!reply)
                continue;
            for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
                 xcb_res_client_id_value_next(&it)) {
                if (it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID
                    && xcb_res_client_id_value_value_length(it.data) >= 1) {
                    clients[index].pid = pidOf({*xcb_res_client_id_value_value(it.data)});
                }
            }
        }
    }
    return clients;
}

}  // namespace

DesktopState readDesktopState(X11Display &display)
{
    DesktopState state;
    if (!display.isUsable())
        return state;
    xcb_connection_t *c = display.connection();
    const xcb_ewmh_connection_t &a = display.atoms();
    const xcb_window_t root = display.root();

    const auto checkCookie = getProperty(c, root, a._NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW, 1);
    const auto stackingCookie = getProperty(c, root, a._NET_CLIENT_LIST_STACKING, XCB_ATOM_WINDOW, kMaxWindows);
    const auto clientsCookie = getProperty(c, root, a._NET_CLIENT_LIST, XCB_ATOM_WINDOW, kMaxWindows);
    const auto activeCookie = getProperty(c, root, a._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW, 1);
    const QList<quint32> check = items(c, checkCookie);
    const QList<quint32> stacking = items(c, stackingCookie);
    const QList<quint32> clientList = items(c, clientsCookie);
    const QList<quint32> active = items(c, activeCookie);

    // A window manager that exited leaves its root properties behind; its check window proves
    // it is still there.
    if (!check.isEmpty() && check.first() != XCB_NONE)
        state.managed = items(c, getProperty(c, check.first(), a._NET_SUPPORTING_WM_CHECK, XCB_ATOM_WINDOW, 1))
                        == QList<quint32>{check.first()};

    QList<xcb_window_t> bottomToTop;
    if (state.managed) {
        bottomToTop = stacking.isEmpty() ? clientList : stacking;
        state.mappingOrder = clientList.isEmpty() ? bottomToTop : clientList;
        state.active = active.value(0, XCB_NONE);
    } else {
        const auto tree = takeReply(xcb_query_tree_reply, c, xcb_query_tree(c, root));
        if (tree) {
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            bottomToTop = QList<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get()));
        }
        const auto focus = takeReply(xcb_get_input_focus_reply, c, xcb_get_input_focus(c));
        state.active = focus ? focus->focus : XCB_NONE;
    }
    state.bottomToTop = readClients(display, bottomToTop, !state.managed);
    if (!state.managed) {
        for (const ClientWindow &client : std::as_const(state.bottomToTop))
            state.mappingOrder.append(client.window);
    }
    display.discardQueuedEvents();
    return state;
}

std::optional<AppIdentity> identifyOwner(DesktopEntryIndex &index, const ClientWindow &window,
                                         QHash<qint32, QString> &processNames)
{
    QString process;
    if (window.pid) {
        auto it = processNames.find(*window.pid);
        if (it == processNames.end())
            it = processNames.insert(*window.pid, processName(*window.pid));
        process = *it;
    }
    return index.identify({window.wmInstance.value_or(QString()), window.wmClass.value_or(QString()), process});
}

}  // namespace zapum::x11
