#pragma once

#include "browsersession.h"
#include "ownbrowser.h"

#include <QPoint>
#include <QString>

/// A browser's top-level window (Chromium-family or Firefox).
struct BrowserWindow
{
    quint32 window = 0; ///< 0 when there is none
    QString wmClass;
    qint64 pid = 0;
    BrowserEndpoint browser; ///< its port 0 when it has none to reach
};

/// Where the pointer is, as the windows tell it, without asking the browser anything.
struct PointerScene
{
    enum class Over
    {
        Elsewhere,  ///< the desktop or another program's window
        OwnWindow,  ///< a window of this program
        BrowserPage ///< a browser's window
    };
    bool browserInFront = false; ///< the foreground window is a browser frame
    Over over = Over::Elsewhere;
    BrowserEndpoint browser; ///< of the browser under the pointer; its port 0 when none is known
};

/// Ports set by the user (clipvault.conf) for the browsers of each kind; 0: found from the
/// browser's process.
struct BrowserPorts
{
    quint16 chromium = 0;
    quint16 firefox = 0;
};

/// The browser to ask: the one whose window was found, else one at a port set in clipvault.conf,
/// else the one "Open a browser for Clip Vault" started (a Wayland desktop shows no program the
/// windows of another); unknown when none.
inline BrowserEndpoint BrowserToAsk(const BrowserWindow& window, BrowserPorts ports,
                                    const QString& dataFolder)
{
    if (window.window != 0)
        return window.browser;
    if (ports.chromium != 0)
        return {ports.chromium, BrowserKind::Chromium};
    if (ports.firefox != 0)
        return {ports.firefox, BrowserKind::Firefox};
    return OwnBrowserEndpoint(dataFolder);
}

/// What the window system tells of the user's browser: quick, never waits on a browser, and
/// shows nothing. What its pages hold is the browser session's to answer.
class BrowserAccess
{
public:
    virtual ~BrowserAccess() = default;
    /// The foreground browser window, else the topmost one.
    virtual BrowserWindow FindBrowserFrame() = 0;
    /// The foreground window and the window under a screen point: whether the shortcut bar may
    /// stay (over a window of this program), may appear (over a browser's page, when the
    /// browser says a movie is there) or goes (anywhere else). The point stays in screen pixels.
    virtual PointerScene ClassifyPointerWindow(QPoint screen) = 0;
};
