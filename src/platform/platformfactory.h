#pragma once

#include "browseraccess.h"

#include <QtGlobal>

#include <memory>

class Autostart;
class BrowserAccess;
class DesktopOpen;
class HotKey;
class PointerHook;
class WindowFocus;
class QObject;

/// Picks the implementations for the session the program runs in: X11 and XDG under an X11
/// session; elsewhere the X11 features switch off with a one-line notice.
namespace platform {
std::unique_ptr<HotKey> createHotKey(QObject* parent = nullptr);
std::unique_ptr<Autostart> createAutostart();
std::unique_ptr<DesktopOpen> createDesktopOpen();
/// `ports` (0: none) replace the debugging ports found from the browser processes.
std::unique_ptr<BrowserAccess> createBrowserAccess(BrowserPorts ports = {});
std::unique_ptr<PointerHook> createPointerHook(QObject* parent = nullptr);
std::unique_ptr<WindowFocus> createWindowFocus();
/// Whether the program runs on an X11 display.
bool isX11();
/// Whether the program runs as a Wayland client.
bool isWayland();
} // namespace platform
