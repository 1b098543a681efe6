#pragma once

#include "browseraccess.h"

#include <QHash>
#include <QString>

struct _XDisplay;

/// Browser access on X11: windows found through the window manager's properties
/// (_NET_ACTIVE_WINDOW, _NET_CLIENT_LIST_STACKING, WM_CLASS, _NET_WM_PID) on a connection of its
/// own, kept open for the program's life.
class X11BrowserAccess final : public BrowserAccess
{
public:
    /// `portOverride` (from clipvault.conf) replaces the port found from the browser process.
    explicit X11BrowserAccess(quint16 portOverride = 0);
    ~X11BrowserAccess() override;
    X11BrowserAccess(const X11BrowserAccess&) = delete;
    X11BrowserAccess& operator=(const X11BrowserAccess&) = delete;

    BrowserWindow FindBrowserFrame() override;
    PointerScene ClassifyPointerWindow(QPoint screen) override;

    /// Whether a WM_CLASS names a Chromium-family browser.
    static bool isBrowserClass(const QString& wmClass);

private:
    /// The debugging port of a browser process, remembered once found.
    quint16 portOfProcess(qint64 pid);

    /// The kept connection to the X server; none when there is no display.
    _XDisplay* display();

    quint16 m_portOverride;
    _XDisplay* m_display = nullptr;
    bool m_displayFailed = false;
    QHash<qint64, quint16> m_ports;
};
