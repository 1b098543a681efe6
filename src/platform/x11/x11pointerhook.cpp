#include "x11pointerhook.h"

#include "mhx.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

#include <QFile>
#include <QGuiApplication>

X11PointerHook::X11PointerHook(QObject* parent)
    : PointerHook(parent)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    m_connection = x11 ? x11->connection() : nullptr;
    if (!m_connection)
        return;
    const char name[] = "WM_QVNOTIFY";
    if (xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr)) {
        m_atom = reply->atom;
        std::free(reply);
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_window = xcb_generate_id(m_connection);
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(m_connection);
    qGuiApp->installNativeEventFilter(this);
}

X11PointerHook::~X11PointerHook()
{
    RemoveHook();
    if (!m_connection)
        return;
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
    xcb_destroy_window(m_connection, m_window);
    xcb_flush(m_connection);
}

bool X11PointerHook::install(const QString& blockPath)
{
    return m_connection && InstallHook(m_window, QFile::encodeName(blockPath).constData()) != 0;
}

void X11PointerHook::remove()
{
    RemoveHook();
}

bool X11PointerHook::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<xcb_client_message_event_t*>(message);
    if (client->window != m_window || client->type != m_atom)
        return false;
    emit notified();
    return true;
}
