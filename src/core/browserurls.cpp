#include "browserurls.h"

#include "texthelpers.h"
#include "urlresolve.h"

#include <QSizeF>

namespace {

/// Length of "http://" or "https://" at the start of the text, 0 when neither.
qsizetype webSchemeLength(const QString& text)
{
    for (const QString& scheme : {QStringLiteral("http://"), QStringLiteral("https://")}) {
        if (text.startsWith(scheme))
            return scheme.size();
    }
    return 0;
}

} // namespace

QString GetPageBaseUrl(const QString& addressBarText)
{
    QString page = addressBarText;
    if (const qsizetype query = page.indexOf(u'?'); query >= 0)
        page.truncate(query);
    if (page.isEmpty() || page == u"about:blank")
        return page;
    const qsizetype scheme = webSchemeLength(page);
    const qsizetype lastSlash = LastCharPos(u"/", page);
    // The last "/" may be the second one of the scheme: then the address is a bare site.
    if (lastSlash != 0 && lastSlash != scheme)
        return page.left(lastSlash);
    return page + u'/';
}

QString GetSiteRootUrl(const QString& address)
{
    const QString trimmed = address.trimmed();
    const qsizetype scheme = webSchemeLength(trimmed);
    QString rest = trimmed.mid(scheme);
    if (const qsizetype slash = rest.indexOf(u'/'); slash >= 0)
        rest.truncate(slash + 1);
    else
        rest += u'/';
    return (scheme > 0 ? trimmed.left(scheme) : QStringLiteral("http://")) + rest;
}

QPointF ViewportGeometry::screenToCss(QPointF screen) const
{
    return (screen / deviceScale - originDip) / zoom;
}

QRectF ViewportGeometry::cssToScreen(QRectF css) const
{
    const QPointF topLeft = (originDip + css.topLeft() * zoom) * deviceScale;
    return QRectF(topLeft, css.size() * zoom * deviceScale);
}

ViewportGeometry ViewportGeometry::fromWindowMetrics(QPointF screenXY, QSizeF outer, QSizeF inner,
                                                     double devicePixelRatio, double zoom)
{
    ViewportGeometry geometry;
    geometry.zoom = zoom > 0 ? zoom : 1;
    geometry.deviceScale = devicePixelRatio > 0 ? devicePixelRatio / geometry.zoom : 1;
    // Side frames are shared equally; everything else of the outer height is above the page.
    geometry.originDip = QPointF(screenXY.x() + (outer.width() - inner.width() * geometry.zoom) / 2,
                                 screenXY.y() + outer.height() - inner.height() * geometry.zoom);
    return geometry;
}

QString BarMovieAddress(const QString& written, const QString& frameUrl, const QString& pageUrl)
{
    return AbsoluteMovieAddress(written.section(u'?', 0, 0),
                                GetPageBaseUrl(frameUrl.isEmpty() ? pageUrl : frameUrl));
}

QString AbsoluteMovieAddress(const QString& movieUrl, const QString& pageBase)
{
    const QString head = movieUrl.trimmed().left(8).toLower();
    if (head.startsWith(QStringLiteral("http://")) || head == u"https://")
        return movieUrl;
    // Resolved as detection resolves a page's references, "./" and "../" included, so that one
    // movie found both ways is one address.
    return ResolveReference(pageBase, movieUrl);
}
