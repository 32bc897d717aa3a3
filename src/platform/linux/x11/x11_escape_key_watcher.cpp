#include "platform/linux/x11/x11_escape_key_watcher.h"

#include "foundation/logging.h"
#include "platform/linux/x11/x11_display.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>


namespace zapum {
namespace {

constexpr xcb_keysym_t kEscapeKeysym = 0xff1b;

QList<uint32_t> escapeKeycodes(xcb_connection_t *connection)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    x11::XcbPtr<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, uint8_t(count)), nullptr));
    QList<uint32_t> keycodes;
    if (!mapping || mapping->keysyms_per_keycode == 0)
        return keycodes;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKeycode = mapping->keysyms_per_keycode;
    for (int i = 0; i < count; ++i)
        for (int j = 0; j < perKeycode; ++j)
            if (keysyms[i * perKeycode + j] == kEscapeKeysym && !keycodes.contains(uint32_t(setup->min_keycode + i)))
                keycodes.append(uint32_t(setup->min_keycode + i));
    return keycodes;
}

}  // namespace

X11EscapeKeyWatcher::X11EscapeKeyWatcher(QObject *parent) : EscapeKeyWatcher(parent) {}

X11EscapeKeyWatcher::~X11EscapeKeyWatcher()
{
    stop();
}

bool X11EscapeKeyWatcher::start()
{
    if (m_connection)
        return true;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_query_extension_reply_t *input = xcb_get_extension_data(connection, &xcb_input_id);
    x11::XcbPtr<xcb_input_xi_query_version_reply_t> version(
        input && input->present
            ? xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 0), nullptr)
            : nullptr);
    const QList<uint32_t> keycodes = version && version->major_version >= 2 ? escapeKeycodes(connection) : QList<uint32_t>();
    if (keycodes.isEmpty()) {
        qCInfo(lcPlatform) << "Escape cannot be watched on this display (no XInput2 or no Escape key)";
        xcb_disconnect(connection);
        return false;
    }

    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_input_xi_select_events(connection, root, 1, &selection.head);
    xcb_flush(connection);

    m_connection = connection;
    m_inputOpcode = input->major_opcode;
    m_escapeKeycodes = keycodes;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11EscapeKeyWatcher::drainEvents);
    return true;
}

void X11EscapeKeyWatcher::stop()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
}

void X11EscapeKeyWatcher::drainEvents()
{
    bool escape = false;
    while (m_connection) {
        x11::XcbPtr<xcb_generic_event_t> event(xcb_poll_for_event(m_connection));
        if (!event)
            break;
        if ((event->response_type & 0x7f) != XCB_GE_GENERIC)
            continue;
        const auto *generic = reinterpret_cast<const xcb_ge_generic_event_t *>(event.get());
        if (generic->extension != m_inputOpcode || generic->event_type != XCB_INPUT_RAW_KEY_PRESS)
            continue;
        const auto *press = reinterpret_cast<const xcb_input_raw_key_press_event_t *>(event.get());
        escape = escape || m_escapeKeycodes.contains(press->detail);
    }
    if (m_connection && xcb_connection_has_error(m_connection)) {
        qCWarning(lcPlatform) << "lost the display connection used to watch Escape";
        stop();
    }
    // One signal per batch: a key seen through both its device and the master is still one press.
    if (escape)
        Q_EMIT escapePressed();
}

std::unique_ptr<EscapeKeyWatcher> createEscapeKeyWatcher()
{
    return std::make_unique<X11EscapeKeyWatcher>();
}

}  // namespace zapum
