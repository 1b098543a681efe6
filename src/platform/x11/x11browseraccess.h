#pragma once

#include "browseraccess.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <optional>

struct _XDisplay;

/// Browser access on X11: windows found through the window manager's properties
/// (_NET_ACTIVE_WINDOW, _NET_CLIENT_LIST_STACKING, WM_CLASS, _NET_WM_PID) on a connection of its
/// own, kept open for the program's life.
class X11BrowserAccess final : public BrowserAccess
{
public:
    /// `ports` (from clipvault.conf) replace the ports found from the browser processes.
    explicit X11BrowserAccess(BrowserPorts ports = {});
    ~X11BrowserAccess() override;
    X11BrowserAccess(const X11BrowserAccess&) = delete;
    X11BrowserAccess& operator=(const X11BrowserAccess&) = delete;

    BrowserWindow FindBrowserFrame() override;
    PointerScene ClassifyPointerWindow(QPoint screen) override;

    /// The browser a WM_CLASS names: a Chromium-family one or Firefox; none for another program.
    static std::optional<BrowserKind> kindOfClass(const QString& wmClass);
    static bool isBrowserClass(const QString& wmClass);

private:
    /// Where a browser process is asked, its port remembered once found.
    BrowserEndpoint endpointOf(qint64 pid, BrowserKind kind);

    /// The kept connection to the X server; none when there is no display.
    _XDisplay* display();

    BrowserPorts m_ports;
    _XDisplay* m_display = nullptr;
    bool m_displayFailed = false;
    QHash<qint64, BrowserEndpoint> m_knownEndpoints;
    /// Processes found without a port, and since when; asked again after kRecheckMs.
    QHash<qint64, QElapsedTimer> m_misses;
    static constexpr int kRecheckMs = 1000;
};
