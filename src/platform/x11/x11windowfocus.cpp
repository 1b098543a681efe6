#include "x11windowfocus.h"

#include <xcb/xcb.h>

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

X11WindowFocus::X11WindowFocus()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    m_connection = x11 ? x11->connection() : nullptr;
    if (m_connection)
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
}

quint32 X11WindowFocus::atom(const char* name) const
{
    quint32 value = 0;
    if (xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr)) {
        value = reply->atom;
        std::free(reply);
    }
    return value;
}

quint32 X11WindowFocus::cardinal(quint32 window, quint32 property, quint32 type) const
{
    quint32 value = 0;
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(m_connection, 0, window, property, type, 0, 1);
    if (xcb_get_property_reply_t* reply = xcb_get_property_reply(m_connection, cookie, nullptr)) {
        if (reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
            std::memcpy(&value, xcb_get_property_value(reply), 4);
        std::free(reply);
    }
    return value;
}

quint32 X11WindowFocus::foreignActiveWindow()
{
    if (!m_connection)
        return 0;
    const quint32 active = cardinal(m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    if (active == 0)
        return 0;
    const quint32 pid = cardinal(active, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    return pid == static_cast<quint32>(getpid()) ? 0 : active;
}

void X11WindowFocus::activate(quint32 window)
{
    if (!m_connection || window == 0)
        return;
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2; // from a pager-like source: window managers honour it
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, 0, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(m_connection);
}
