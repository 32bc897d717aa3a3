#include "platform/linux/x11/x11_modifier_key_source.h"

#include "foundation/logging.h"
#include "platform/linux/x11/x11_display.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace zapum {

namespace {

// X keysyms of the modifier keys (X11/keysymdef.h).
constexpr std::uint32_t kXkShiftL = 0xffe1;
constexpr std::uint32_t kXkShiftR = 0xffe2;
constexpr std::uint32_t kXkControlL = 0xffe3;
constexpr std::uint32_t kXkControlR = 0xffe4;
constexpr std::uint32_t kXkCapsLock = 0xffe5;
constexpr std::uint32_t kXkMetaL = 0xffe7;
constexpr std::uint32_t kXkMetaR = 0xffe8;
constexpr std::uint32_t kXkAltL = 0xffe9;
constexpr std::uint32_t kXkAltR = 0xffea;
constexpr std::uint32_t kXkSuperL = 0xffeb;
constexpr std::uint32_t kXkSuperR = 0xffec;
constexpr std::uint32_t kXkIsoLevel3Shift = 0xfe03;
constexpr std::uint32_t kXkModeSwitch = 0xff7e;

// XInput 2.1 and later deliver raw events whatever grabs are active, so a key released while an
// open menu or a window switcher holds the keyboard still reaches us; under 2.0 it would be lost
// and the hold would never end.
constexpr std::uint32_t kXiMajor = 2;
constexpr std::uint32_t kXiMinor = 2;

// The first keysym of every keycode, in keycode order from min_keycode: what the key types
// without Shift or a level modifier, which is what names a modifier key.
template <typename Visit>
void forEachPlainKeysym(xcb_connection_t *connection, Visit visit)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    x11::XcbPtr<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, std::uint8_t(count)), nullptr));
    if (!mapping || mapping->keysyms_per_keycode == 0)
        return;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKeycode = mapping->keysyms_per_keycode;
    const int available = xcb_get_keyboard_mapping_keysyms_length(mapping.get()) / perKeycode;
    for (int i = 0; i < std::min(count, available); ++i)
        visit(setup->min_keycode + i, keysyms[i * perKeycode]);
}

}  // namespace

quint16 X11ModifierKeySource::keyCodeForKeysym(std::uint32_t keysym)
{
    using namespace modifier_keys;
    switch (keysym) {
    case kXkShiftL:
        return kLeftShift;
    case kXkShiftR:
        return kRightShift;
    case kXkControlL:
        return kLeftControl;
    case kXkControlR:
        return kRightControl;
    case kXkCapsLock:
        return kCapsLock;
    case kXkAltL:
    case kXkMetaL:
        return kLeftOption;
    // Layouts with an AltGr key put ISO_Level3_Shift (or the older Mode_switch) on the physical
    // Right Alt key; it is the same key under the user's thumb.
    case kXkAltR:
    case kXkMetaR:
    case kXkIsoLevel3Shift:
    case kXkModeSwitch:
        return kRightOption;
    case kXkSuperL:
        return kLeftCommand;
    case kXkSuperR:
        return kRightCommand;
    default:
        return 0;
    }
}

X11ModifierKeySource::X11ModifierKeySource(QObject *parent) : ModifierKeySource(parent) {}

X11ModifierKeySource::~X11ModifierKeySource()
{
    stop();
}

Status X11ModifierKeySource::start()
{
    if (m_connection)
        return Done{};
    const auto failure = [this](const QString &message) {
        stop();
        return Failure{QStringLiteral("ZaPumHotkey"), 1, message};
    };

    // A connection of our own: Qt's is busy with the app's windows, and raw events on the root
    // window are independent of them.
    m_connection = x11::connectWatcher();
    if (!m_connection)
        return failure(QStringLiteral("The X11 display cannot be opened, so the hold-to-talk key cannot be watched."));

    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(m_connection, &xcb_input_id);
    if (!extension || !extension->present)
        return failure(QStringLiteral("The X server has no XInput extension, so the hold-to-talk key cannot be watched."));
    m_xinputOpcode = extension->major_opcode;
    x11::XcbPtr<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, kXiMajor, kXiMinor),
                                         nullptr));
    if (!version || version->major_version < 2)
        return failure(QStringLiteral("The X server does not offer XInput 2, so the hold-to-talk key cannot be watched."));
    if (version->major_version == 2 && version->minor_version < 1)
        qCWarning(lcPlatform) << "XInput 2.0 only: a talk key released while another client grabs the keyboard is missed";

    loadKeyboardMapping();
    seedPressedKeys();

    struct {
        xcb_input_event_mask_t header;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    if (x11::XcbPtr<xcb_generic_error_t> error(
            xcb_request_check(m_connection, xcb_input_xi_select_events_checked(m_connection, root, 1, &mask.header)));
        error) {
        return failure(QStringLiteral("The X server refused to report key events, so the hold-to-talk key cannot be watched."));
    }

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11ModifierKeySource::readEvents);
    // Replies above may have pulled events into xcb's queue, where the notifier cannot see them.
    readEvents();
    return Done{};
}

void X11ModifierKeySource::stop()
{
    // stop() may run inside the notifier's own signal.
    x11::closeWatchedConnection(m_notifier, m_connection);
    m_pressed.reset();
}

void X11ModifierKeySource::loadKeyboardMapping()
{
    m_keyCodes.fill(0);
    forEachPlainKeysym(m_connection, [this](int keycode, xcb_keysym_t keysym) {
        m_keyCodes[size_t(keycode)] = keyCodeForKeysym(keysym);
    });
}

void X11ModifierKeySource::seedPressedKeys()
{
    // Keys already down when watching starts, so that the flags are right from the first event.
    m_pressed.reset();
    x11::XcbPtr<xcb_query_keymap_reply_t> keymap(
        xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr));
    if (!keymap)
        return;
    for (size_t keycode = 0; keycode < m_pressed.size(); ++keycode) {
        if (m_keyCodes[keycode] != 0 && (keymap->keys[keycode / 8] >> (keycode % 8)) & 1)
            m_pressed.set(keycode);
    }
}

void X11ModifierKeySource::readEvents()
{
    if (!m_connection)
        return;
    while (xcb_generic_event_t *raw = xcb_poll_for_event(m_connection)) {
        x11::XcbPtr<xcb_generic_event_t> event(raw);
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            if (reinterpret_cast<xcb_mapping_notify_event_t *>(raw)->request == XCB_MAPPING_KEYBOARD)
                loadKeyboardMapping();
            continue;
        }
        if (type != XCB_GE_GENERIC)
            continue;
        const auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(raw);
        if (generic->extension != m_xinputOpcode)
            continue;
        if (generic->event_type == XCB_INPUT_RAW_KEY_PRESS || generic->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            const auto *key = reinterpret_cast<xcb_input_raw_key_press_event_t *>(raw);
            if (key->detail < m_pressed.size())
                keyChanged(std::uint8_t(key->detail), generic->event_type == XCB_INPUT_RAW_KEY_PRESS);
        }
        if (!m_connection)
            return;  // a receiver stopped the source
    }
    if (xcb_connection_has_error(m_connection)) {
        qCWarning(lcPlatform) << "Lost the X11 connection that watches the hold-to-talk key";
        stop();
    }
}

void X11ModifierKeySource::keyChanged(std::uint8_t keycode, bool pressed)
{
    const quint16 keyCode = m_keyCodes[keycode];
    if (keyCode == 0)
        return;
    // Only changes are reported: injected and repeated keys can arrive twice.
    if (m_pressed.test(keycode) == pressed)
        return;
    m_pressed.set(keycode, pressed);
    if (keyCode == modifier_keys::kCapsLock) {
        if (!pressed)
            return;  // the lock toggles on the press; its release changes no flag
        m_capsLock = !m_capsLock;
    }
    Q_EMIT modifierChanged(keyCode, currentFlags());
}

quint64 X11ModifierKeySource::currentFlags() const
{
    quint64 flags = m_capsLock ? modifier_flags::kCapsLock : 0;
    for (size_t keycode = 0; keycode < m_pressed.size(); ++keycode) {
        if (m_pressed.test(keycode))
            flags |= flagForModifierKey(m_keyCodes[keycode]);
    }
    return flags;
}

std::unique_ptr<ModifierKeySource> createModifierKeySource()
{
    return std::make_unique<X11ModifierKeySource>();
}

bool modifierKeyTypesCharacters(quint16 keyCode)
{
    if (keyCode != modifier_keys::kRightOption)
        return false;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    bool altR = false;
    bool levelShift = false;
    if (!xcb_connection_has_error(connection)) {
        // A layout with AltGr puts ISO_Level3_Shift (or Mode_switch) on the right Alt key and
        // leaves no key that is plainly Alt_R; US-like layouts keep Alt_R there and an
        // ISO_Level3_Shift only on a virtual key nobody presses.
        forEachPlainKeysym(connection, [&](int, xcb_keysym_t keysym) {
            altR = altR || keysym == kXkAltR || keysym == kXkMetaR;
            levelShift = levelShift || keysym == kXkIsoLevel3Shift || keysym == kXkModeSwitch;
        });
    }
    xcb_disconnect(connection);
    return levelShift && !altR;
}

}  // namespace zapum
