#include "platform/linux/x11/x11_escape_key_watcher.h"

#include "foundation/logging.h"
#include "platform/linux/x11/x11_display.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>


namespace zapum {
namespace {

constexpr xcb_keysym_t kEscapeKeysym = 0xff1b;

// Shift, Control, Caps Lock... Hyper (0xffe1–0xffee) without the two locks, and the level shifts
// AltGr and Mode_switch.
bool isModifierKeysym(xcb_keysym_t keysym)
{
    constexpr xcb_keysym_t kCapsLock = 0xffe5, kShiftLock = 0xffe6;
    return (keysym >= 0xffe1 && keysym <= 0xffee && keysym != kCapsLock && keysym != kShiftLock)
           || keysym == 0xfe03 || keysym == 0xff7e;
}

// Which keycodes are Escape and which are modifiers, from the server's keymap.
void readKeymap(xcb_connection_t *connection, QList<uint32_t> &escape, std::bitset<256> &modifiers)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    x11::XcbPtr<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, uint8_t(count)), nullptr));
    escape.clear();
    modifiers.reset();
    if (!mapping || mapping->keysyms_per_keycode == 0)
        return;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKeycode = mapping->keysyms_per_keycode;
    for (int i = 0; i < count; ++i) {
        const uint32_t keycode = uint32_t(setup->min_keycode + i);
        if (isModifierKeysym(keysyms[i * perKeycode]))
            modifiers.set(keycode);
        for (int j = 0; j < perKeycode; ++j)
            if (keysyms[i * perKeycode + j] == kEscapeKeysym && !escape.contains(keycode))
                escape.append(keycode);
    }
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
    xcb_connection_t *connection = x11::connectWatcher();
    if (!connection)
        return false;
    const xcb_query_extension_reply_t *input = xcb_get_extension_data(connection, &xcb_input_id);
    // 2.1 and later deliver raw events during another client's grab too (an open menu), when an
    // Escape is most likely.
    x11::XcbPtr<xcb_input_xi_query_version_reply_t> version(
        input && input->present
            ? xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 2), nullptr)
            : nullptr);
    QList<uint32_t> keycodes;
    if (version && version->major_version >= 2)
        readKeymap(connection, keycodes, m_modifierKeycodes);
    if (keycodes.isEmpty()) {
        qCInfo(lcPlatform) << "Escape cannot be watched on this display (no XInput2 or no Escape key)";
        xcb_disconnect(connection);
        return false;
    }

    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL, 1},
                XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_input_xi_select_events(connection, root, 1, &selection.head);
    // Modifiers already held when the toast appears count too.
    m_modifiersDown.reset();
    x11::XcbPtr<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(connection, xcb_query_keymap(connection), nullptr));
    for (size_t keycode = 0; keymap && keycode < m_modifiersDown.size(); ++keycode)
        m_modifiersDown.set(keycode, m_modifierKeycodes.test(keycode) && ((keymap->keys[keycode / 8] >> (keycode % 8)) & 1));

    m_connection = connection;
    m_inputOpcode = input->major_opcode;
    m_escapeKeycodes = keycodes;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11EscapeKeyWatcher::drainEvents);
    return true;
}

void X11EscapeKeyWatcher::stop()
{
    x11::closeWatchedConnection(m_notifier, m_connection);
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
        const bool press = generic->event_type == XCB_INPUT_RAW_KEY_PRESS;
        if (generic->extension != m_inputOpcode || (!press && generic->event_type != XCB_INPUT_RAW_KEY_RELEASE))
            continue;
        const uint32_t keycode = reinterpret_cast<const xcb_input_raw_key_press_event_t *>(event.get())->detail;
        if (keycode < m_modifiersDown.size() && m_modifierKeycodes.test(keycode))
            m_modifiersDown.set(keycode, press);
        // Only a plain Escape: Shift+Escape, Ctrl+Escape and the like belong to other shortcuts.
        else if (press && m_modifiersDown.none())
            escape = escape || m_escapeKeycodes.contains(keycode);
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
