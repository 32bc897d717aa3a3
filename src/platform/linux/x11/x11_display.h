#pragma once

#include <QByteArray>
#include <QList>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

class QSocketNotifier;

#include <cstdlib>
#include <memory>
#include <optional>

namespace zapum::x11 {

struct FreeDeleter {
    void operator()(void *pointer) const { std::free(pointer); }
};
// xcb hands out replies allocated with malloc.
template <typename T>
using XcbPtr = std::unique_ptr<T, FreeDeleter>;

// Takes the reply of a checked request; an error (a window that vanished meanwhile) gives null.
template <typename Reply, typename Cookie>
XcbPtr<Reply> takeReply(Reply *(*replyFunction)(xcb_connection_t *, Cookie, xcb_generic_error_t **),
                        xcb_connection_t *connection, Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    XcbPtr<Reply> reply(replyFunction(connection, cookie, &error));
    std::free(error);
    return reply;
}

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name);

// The GUI toolkit's own X connection, for hints on its windows; null on any other platform.
xcb_connection_t *toolkitConnection();

// Values of a property reply: 32-bit items (cardinals, atoms, windows) or the raw bytes.
QList<quint32> propertyItems(const xcb_get_property_reply_t *reply);
std::optional<QByteArray> propertyBytes(const xcb_get_property_reply_t *reply);

// A connection of a watcher's own to the default display; null when no server answers.
xcb_connection_t *connectWatcher();

// Ends a watcher's event connection and the notifier that reads it, and nulls both. Safe inside
// the notifier's own signal: the notifier is disabled at once and deleted later.
void closeWatchedConnection(QSocketNotifier *&notifier, xcb_connection_t *&connection);

// Our own connection to the X server, apart from the GUI toolkit's: the desktop back-ends work in
// a process without a GUI application and never compete with the toolkit for events.
class X11Display {
public:
    explicit X11Display(const QByteArray &displayName = {});
    ~X11Display();
    X11Display(const X11Display &) = delete;
    X11Display &operator=(const X11Display &) = delete;

    // False when no server answered or the connection broke since.
    bool isUsable() const;
    xcb_connection_t *connection() const { return m_connection; }
    xcb_window_t root() const { return m_root; }
    int screenNumber() const { return m_screenNumber; }
    xcb_ewmh_connection_t *ewmh() { return &m_ewmh; }
    const xcb_ewmh_connection_t &atoms() const { return m_ewmh; }
    xcb_atom_t clientLeaderAtom() const { return m_clientLeader; }
    xcb_atom_t compoundTextAtom() const { return m_compoundText; }
    bool hasXTest() const { return m_hasXTest; }
    bool hasXRes() const { return m_hasXRes; }

    // We select no events, but errors of requests without replies still queue up here.
    void discardQueuedEvents();

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = XCB_NONE;
    int m_screenNumber = 0;
    xcb_ewmh_connection_t m_ewmh{};
    bool m_ewmhReady = false;
    xcb_atom_t m_clientLeader = XCB_NONE;
    xcb_atom_t m_compoundText = XCB_NONE;
    bool m_hasXTest = false;
    bool m_hasXRes = false;
};

}  // namespace zapum::x11
