#include "pagescripts.h"

#include "flashmovies_js.h"

#include <QRectF>
#include <QSizeF>

#include <cmath>

namespace PageScripts {

namespace {

/// The page script that finds the Flash movie at a point in CSS pixels. Elements come topmost
/// first, so an embed inside an object wins over the object; same-origin frames are entered,
/// and a frame of another site is named for its own page to be asked.
const char kFindMovieScript[] = R"JS(
(function (x, y, pause) {
  if (document.readyState !== "complete") return null;
  %4
  const find = (doc, x, y, dx, dy) => {
    for (let el of doc.elementsFromPoint(x, y)) {
      for (let n = el; n; n = n.parentElement || (n.getRootNode && n.getRootNode().host) || null) {
        const address = movieOf(n);
        if (address) {
          const r = n.getBoundingClientRect();
          if (pause) { try { if (n.ruffle) n.ruffle().suspend(); else if (n.pause) n.pause(); } catch (e) {} }
          return {address: address, left: r.left + dx, top: r.top + dy, width: r.width, height: r.height, frame: doc.URL};
        }
        if (n.localName === "iframe") {
          const r = n.getBoundingClientRect();
          let inner = null;
          try { inner = n.contentDocument; } catch (e) {}
          const left = r.left + n.clientLeft, top = r.top + n.clientTop;
          if (!inner)
            return {crossFrame: {src: n.src, left: left + dx, top: top + dy}};
          const found = find(inner, x - left, y - top, dx + left, dy + top);
          if (found) return found;
        }
      }
    }
    return null;
  };
  return find(document, x, y, 0, 0);
})(%1, %2, %3)
)JS";

/// Every Flash movie of one frame's document (frames are each asked on their own): its
/// elements, shadow roots included, and what its resource timing says it fetched.
const char kTabMoviesScript[] = R"JS(
(function () {
  %1
  return clipvaultFrameMovies();
})()
)JS";

// The window's metrics; and, once the pointer has moved over the page, the viewport's exact
// origin on the screen from the last pointer event (the frame sizes only estimate it).
const char kMetricsScript[] = R"JS(
(function () {
  if (!("__clipvaultOrigin" in window)) {
    window.__clipvaultOrigin = null;
    addEventListener("mousemove", e => { window.__clipvaultOrigin = {x: e.screenX - e.clientX, y: e.screenY - e.clientY}; },
                     {capture: true, passive: true});
  }
  return {x: screenX, y: screenY, ow: outerWidth, oh: outerHeight, iw: innerWidth, ih: innerHeight,
          dpr: devicePixelRatio, origin: window.__clipvaultOrigin,
          visible: document.visibilityState === "visible", url: location.href};
})()
)JS";

double number(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toDouble();
}

// The page chooses these numbers: a rectangle beyond any screen is cut to a range whose integer
// width and height cannot overflow, and one that is not a number at all places nothing.
QRect boundedOnScreen(const QRectF& screen)
{
    constexpr double kLimit = 1 << 24;
    const QRectF range(-kLimit, -kLimit, 2 * kLimit, 2 * kLimit);
    if (!std::isfinite(screen.x()) || !std::isfinite(screen.y()) || std::isnan(screen.width()) ||
        std::isnan(screen.height()))
        return {};
    return screen.intersected(range).toAlignedRect();
}

} // namespace

QString metrics()
{
    return QString::fromLatin1(kMetricsScript);
}

QString findMovie(QPointF css, bool pause)
{
    return QString::fromLatin1(kFindMovieScript)
        .arg(css.x())
        .arg(css.y())
        .arg(pause ? QStringLiteral("true") : QStringLiteral("false"),
             QLatin1String(kFlashMoviesScript));
}

QString tabMovies()
{
    return QString::fromLatin1(kTabMoviesScript).arg(QLatin1String(kFlashMoviesScript));
}

std::optional<ViewportGeometry> geometryOf(const QJsonObject& metrics)
{
    if (metrics.isEmpty())
        return std::nullopt;
    ViewportGeometry geometry = ViewportGeometry::fromWindowMetrics(
        {number(metrics, "x"), number(metrics, "y")},
        {number(metrics, "ow"), number(metrics, "oh")},
        {number(metrics, "iw"), number(metrics, "ih")}, number(metrics, "dpr"), 1);
    const QJsonObject origin = metrics.value(QStringLiteral("origin")).toObject();
    if (!origin.isEmpty())
        geometry.originDip = QPointF(number(origin, "x"), number(origin, "y"));
    return geometry;
}

bool knowsOrigin(const QJsonObject& metrics)
{
    return metrics.value(QStringLiteral("origin")).isObject();
}

QRect viewportOnScreen(const QJsonObject& metrics, const ViewportGeometry& geometry)
{
    return boundedOnScreen(
        geometry.cssToScreen(QRectF(0, 0, number(metrics, "iw"), number(metrics, "ih"))));
}

std::optional<MovieAtPoint> movieOf(const QJsonObject& hit, const ViewportGeometry& geometry)
{
    if (hit.isEmpty())
        return std::nullopt;
    MovieAtPoint movie;
    movie.address = hit.value(QStringLiteral("address")).toString();
    movie.frameUrl = hit.value(QStringLiteral("frame")).toString();
    movie.screenRect = boundedOnScreen(geometry.cssToScreen(QRectF(
        number(hit, "left"), number(hit, "top"), number(hit, "width"), number(hit, "height"))));
    return movie;
}

} // namespace PageScripts
