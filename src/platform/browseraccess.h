#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

/// A Chromium-family browser's top-level window.
struct BrowserWindow
{
    quint32 window = 0; ///< 0 when there is none
    QString wmClass;
    qint64 pid = 0;
    quint16 debuggingPort = 0; ///< 0 when it has none to reach
};

/// A Flash movie found in a page: its address exactly as the page wrote it, and where it is.
struct MovieAtPoint
{
    QString address;
    QRect screenRect;
};

/// The page shown in the browser's visible tab, as the DevTools protocol reaches it.
struct BrowserDocument
{
    quint16 port = 0;
    QString webSocketUrl;
    QString url;
};

/// Where the pointer is, as the windows tell it, without asking the browser anything.
struct PointerScene
{
    enum class Over
    {
        Elsewhere,  ///< the desktop or another program's window
        OwnWindow,  ///< a window of this program
        BrowserPage ///< a Chromium-family browser's window
    };
    bool browserInFront = false; ///< the foreground window is a browser frame
    Over over = Over::Elsewhere;
    quint16 debuggingPort = 0; ///< of the browser under the pointer; 0 when none is known
};

/// What the program sees of the user's browser. Every failure answers empty, none or false and
/// shows nothing; a browser that does not answer within a second gives none.
class BrowserAccess
{
public:
    virtual ~BrowserAccess() = default;
    /// The foreground browser window, else the topmost one.
    virtual BrowserWindow FindBrowserFrame() = 0;
    /// The address of the visible tab (at most 248 characters); empty when unreachable.
    virtual QString GetAddressBarText() = 0;
    /// The Flash movie under a screen point in the visible tab's page, or none.
    virtual std::optional<MovieAtPoint> FindMovieAtPoint(QPoint screen) = 0;
    /// Pauses the movie under the point when the page plays it with Ruffle (otherwise nothing
    /// happens to it). True when a movie is under the point.
    virtual bool PauseMovieAtPoint(QPoint screen) = 0;
    /// The visible tab's page, or none.
    virtual std::optional<BrowserDocument> GetBrowserDocument() = 0;
    /// Whether the shortcut bar may stay or appear for the pointer at `screen`: over a window of
    /// this program (the bar, its buttons, its menus) true; over a browser page true when a Flash
    /// movie is under the point; anywhere else false. The point is in screen pixels and stays so.
    virtual bool ClassifyPointerWindow(QPoint& screen) = 0;
    /// The foreground window and the window under a screen point, from the window system only:
    /// quick, and never waits on a browser.
    virtual PointerScene DescribePointer(QPoint screen) = 0;
};
