#include "platformfactory.h"

#include "fake/fakehotkey.h"
#include "fake/fakepointerhook.h"
#include "x11/x11pointerhook.h"
#include "x11/x11hotkey.h"
#include "x11/x11windowfocus.h"
#include "x11/xdgautostart.h"
#include "x11/xdgdesktopopen.h"
#include "wayland/portalhotkey.h"

#include <QGuiApplication>
#include <QtDebug>

namespace platform {

bool isX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

bool isWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

std::unique_ptr<HotKey> createHotKey(QObject* parent)
{
    if (isX11())
        return std::make_unique<X11HotKey>(parent);
    // A Wayland desktop lends its global shortcuts through its portal.
    if (isWayland())
        return std::make_unique<PortalHotKey>(QDBusConnection::sessionBus(), parent);
    qInfo("Clip Vault: no X11 display (%s); the F7 hot key is off.",
          qPrintable(QGuiApplication::platformName()));
    return std::make_unique<FakeHotKey>(/*available=*/false, parent);
}

std::unique_ptr<Autostart> createAutostart()
{
    return std::make_unique<XdgAutostart>();
}

std::unique_ptr<PointerHook> createPointerHook(QObject* parent)
{
    if (isX11())
        return std::make_unique<X11PointerHook>(parent);
    return std::make_unique<FakePointerHook>(/*installable=*/false, parent);
}

std::unique_ptr<WindowFocus> createWindowFocus()
{
    if (isX11())
        return std::make_unique<X11WindowFocus>();
    return std::make_unique<NoWindowFocus>();
}

std::unique_ptr<DesktopOpen> createDesktopOpen()
{
    return std::make_unique<XdgDesktopOpen>();
}

} // namespace platform
