#include "x11hotkey.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include <QGuiApplication>

namespace {

constexpr xcb_keysym_t kKeysymF7 = 0xFFC4;
constexpr xcb_keysym_t kKeysymNumLock = 0xFF7F;

struct FreeDeleter
{
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

/// First keycode that produces `keysym` in any column of the keyboard map, 0 when none does.
xcb_keycode_t keycodeFor(xcb_connection_t* connection, xcb_keysym_t keysym)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    XcbReply<xcb_get_keyboard_mapping_reply_t> reply(xcb_get_keyboard_mapping_reply(
        connection,
        xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<uint8_t>(count)),
        nullptr));
    if (!reply)
        return 0;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int perKeycode = reply->keysyms_per_keycode;
    for (int code = 0; code < count; ++code) {
        for (int column = 0; column < perKeycode; ++column) {
            if (keysyms[code * perKeycode + column] == keysym)
                return static_cast<xcb_keycode_t>(setup->min_keycode + code);
        }
    }
    return 0;
}

/// The modifier mask Num Lock sets (one of Mod1 … Mod5), 0 when it sets none.
uint16_t numLockMask(xcb_connection_t* connection)
{
    const xcb_keycode_t numLock = keycodeFor(connection, kKeysymNumLock);
    if (numLock == 0)
        return 0;
    XcbReply<xcb_get_modifier_mapping_reply_t> reply(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!reply)
        return 0;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (codes[modifier * perModifier + i] == numLock)
                return static_cast<uint16_t>(1u << modifier);
        }
    }
    return 0;
}

} // namespace

X11HotKey::X11HotKey(QObject* parent)
    : HotKey(parent)
{
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        m_connection = x11->connection();
        if (m_connection)
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
}

X11HotKey::~X11HotKey()
{
    unregisterKey();
}

std::vector<std::uint16_t> X11HotKey::lockModifierCombinations() const
{
    const uint16_t numLock = numLockMask(m_connection);
    std::vector<uint16_t> combinations{0, XCB_MOD_MASK_LOCK};
    if (numLock != 0) {
        combinations.push_back(numLock);
        combinations.push_back(static_cast<uint16_t>(numLock | XCB_MOD_MASK_LOCK));
    }
    return combinations;
}

bool X11HotKey::registerKey()
{
    if (m_registered)
        return true;
    if (!m_connection)
        return false;
    m_keycode = keycodeFor(m_connection, kKeysymF7);
    if (m_keycode == 0)
        return false;

    // A grab another client holds fails with BadAccess; then the key stays theirs.
    bool taken = true;
    for (uint16_t modifiers : lockModifierCombinations()) {
        const xcb_void_cookie_t cookie =
            xcb_grab_key_checked(m_connection, 1, m_root, modifiers, m_keycode, XCB_GRAB_MODE_ASYNC,
                                 XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(m_connection, cookie)) {
            std::free(error);
            taken = false;
        }
    }
    if (!taken) {
        xcb_ungrab_key(m_connection, m_keycode, m_root, XCB_MOD_MASK_ANY);
        xcb_flush(m_connection);
        return false;
    }
    qGuiApp->installNativeEventFilter(this);
    m_registered = true;
    return true;
}

void X11HotKey::unregisterKey()
{
    if (!m_registered)
        return;
    for (uint16_t modifiers : lockModifierCombinations())
        xcb_ungrab_key(m_connection, m_keycode, m_root, modifiers);
    // A round trip: once this returns the server has let the key go, so a press from now on
    // reaches the focused window and never a later grab of ours.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
    m_registered = false;
}

bool X11HotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = static_cast<xcb_key_press_event_t*>(message);
    if (key->detail != m_keycode || key->event != m_root)
        return false;
    if (type == XCB_KEY_PRESS)
        emit activated();
    return true;
}
