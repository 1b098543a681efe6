#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>

/// The page's address reduced to its folder, ending in "/": the query is cut first; an address
/// that is only a scheme and a host, or holds no "/" at all, gains a "/". Empty text and
/// "about:blank" come back as they are.
QString GetPageBaseUrl(const QString& addressBarText);

/// The site of an address: its scheme (http:// when it has none) and host, and "/".
QString GetSiteRootUrl(const QString& address);

/// The address the shortcut bar saves for a movie address as the page wrote it, against the
/// page's base (GetPageBaseUrl): one beginning "http://" or "https://" (any letter case, blanks
/// before it aside) is taken as it is; any other is resolved against the base as detection
/// resolves references (ResolveReference): "//" takes the page's scheme, "/" goes to the site
/// root, "./" and "../" are resolved.
QString AbsoluteMovieAddress(const QString& movieUrl, const QString& pageBase);

/// The address the shortcut bar files for a movie as its page wrote it (`written`), without its
/// query, resolved against the document it is in (`frameUrl`), or the page when the browser did
/// not say which.
QString BarMovieAddress(const QString& written, const QString& frameUrl, const QString& pageUrl);

/// Where a browser's page viewport lies on the screen, and its scales: screen pixels are device
/// pixels; the page works in CSS pixels.
struct ViewportGeometry
{
    QPointF originDip;      ///< the viewport's top-left corner in device-independent pixels
    double zoom = 1;        ///< the page's zoom (CSS pixel → DIP)
    double deviceScale = 1; ///< DIP → device pixel

    /// A screen point in the page's CSS pixels.
    QPointF screenToCss(QPointF screen) const;
    /// A rectangle in the page's CSS pixels on the screen.
    QRectF cssToScreen(QRectF css) const;

    /// The geometry from what the page tells of its window: its position and outer and inner
    /// sizes (the browser's frame and tool bars lie at the top), its device pixel ratio and zoom.
    static ViewportGeometry fromWindowMetrics(QPointF screenXY, QSizeF outer, QSizeF inner,
                                              double devicePixelRatio, double zoom);
};
