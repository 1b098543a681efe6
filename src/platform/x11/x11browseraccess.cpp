#include "x11browseraccess.h"

#include "browserurls.h"
#include "devtools/devtoolsclient.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSizeF>

#include <vector>

// Xlib's macros clash with Qt's headers; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int kAddressLimit = 248;

int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

/// A connection of our own for one query. A window may close between the moment a list names
/// it and the request about it: the request then fails on its own instead of Xlib's default
/// handler ending the process (the command-line tool has no other handler).
class QuietDisplay
{
public:
    QuietDisplay()
        : m_previous(XSetErrorHandler(ignoreXError))
        , m_display(XOpenDisplay(nullptr))
    {
    }
    ~QuietDisplay()
    {
        if (m_display) {
            XSync(m_display, False); // every error of ours arrives while ours is the handler
            XCloseDisplay(m_display);
        }
        XSetErrorHandler(m_previous);
    }
    QuietDisplay(const QuietDisplay&) = delete;
    QuietDisplay& operator=(const QuietDisplay&) = delete;

    Display* get() const { return m_display; }
    explicit operator bool() const { return m_display != nullptr; }

private:
    XErrorHandler m_previous;
    Display* m_display;
};

std::vector<unsigned long> windowProperty(Display* display, Window window, const char* name,
                                          Atom type)
{
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 65536, False,
                           type, &actualType, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        values.assign(longs, longs + count);
    }
    if (data)
        XFree(data);
    return values;
}

QString wmClassOf(Display* display, Window window)
{
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint))
        return {};
    const QString text =
        QString::fromLocal8Bit(hint.res_name) + u' ' + QString::fromLocal8Bit(hint.res_class);
    XFree(hint.res_name);
    XFree(hint.res_class);
    return text;
}

/// The page script that finds the Flash movie at a point in CSS pixels. Elements come topmost
/// first, so an embed inside an object wins over the object; same-origin frames are entered.
const char kFindMovieScript[] = R"JS(
(function (x, y, pause) {
  if (document.readyState !== "complete") return null;
  const types = ["application/x-shockwave-flash", "application/futuresplash", "application/vnd.adobe.flash.movie"];
  const flashPath = p => { p = (p || "").split("?")[0].split("#")[0].toLowerCase(); return p.endsWith(".swf") || p.endsWith(".spl"); };
  const movieParam = el => {
    for (const p of el.querySelectorAll("param")) {
      const n = (p.getAttribute("name") || "").toLowerCase();
      if (n === "movie" || n === "src") return p.getAttribute("value");
    }
    return null;
  };
  const movieOf = el => {
    const name = (el.localName || "").toLowerCase();
    const type = (el.getAttribute("type") || "").toLowerCase();
    if (/^ruffle-(object|embed|player)(-\d+)?$/.test(name))
      return el.getAttribute("data") || movieParam(el) || el.getAttribute("src");
    if (name === "object") {
      const address = el.getAttribute("data") || movieParam(el);
      const classid = (el.getAttribute("classid") || "").toLowerCase();
      if (address && (types.includes(type) || classid === "clsid:d27cdb6e-ae6d-11cf-96b8-444553540000" || flashPath(address)))
        return address;
      return null;
    }
    if (name === "embed") {
      const address = el.getAttribute("src");
      return address && (types.includes(type) || flashPath(address)) ? address : null;
    }
    return null;
  };
  const find = (doc, x, y, dx, dy) => {
    for (let el of doc.elementsFromPoint(x, y)) {
      for (let n = el; n; n = n.parentElement || (n.getRootNode && n.getRootNode().host) || null) {
        const address = movieOf(n);
        if (address) {
          const r = n.getBoundingClientRect();
          if (pause) { try { if (n.ruffle) n.ruffle().suspend(); else if (n.pause) n.pause(); } catch (e) {} }
          return {address: address, left: r.left + dx, top: r.top + dy, width: r.width, height: r.height};
        }
        if (n.localName === "iframe") {
          try {
            const r = n.getBoundingClientRect();
            const inner = n.contentDocument && find(n.contentDocument, x - r.left, y - r.top, dx + r.left, dy + r.top);
            if (inner) return inner;
          } catch (e) {}
        }
      }
    }
    return null;
  };
  return find(document, x, y, 0, 0);
})(%1, %2, %3)
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
          dpr: devicePixelRatio, origin: window.__clipvaultOrigin};
})()
)JS";

} // namespace

X11BrowserAccess::X11BrowserAccess(quint16 portOverride)
    : m_portOverride(portOverride)
{
}

bool X11BrowserAccess::isBrowserClass(const QString& wmClass)
{
    const QString lower = wmClass.toLower();
    for (const char* name : {"chromium", "google-chrome", "brave", "microsoft-edge"}) {
        if (lower.contains(QLatin1String(name)))
            return true;
    }
    return false;
}

BrowserWindow X11BrowserAccess::FindBrowserFrame()
{
    BrowserWindow found;
    const QuietDisplay display;
    if (!display)
        return found;
    const Window root = DefaultRootWindow(display.get());
    std::vector<unsigned long> candidates =
        windowProperty(display.get(), root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
    // Then the others, topmost first.
    const std::vector<unsigned long> stacking =
        windowProperty(display.get(), root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    candidates.insert(candidates.end(), stacking.rbegin(), stacking.rend());
    for (unsigned long window : candidates) {
        const QString wmClass = wmClassOf(display.get(), window);
        if (window == 0 || !isBrowserClass(wmClass))
            continue;
        found.window = static_cast<quint32>(window);
        found.wmClass = wmClass;
        const auto pid = windowProperty(display.get(), window, "_NET_WM_PID", XA_CARDINAL);
        found.pid = pid.empty() ? 0 : static_cast<qint64>(pid.front());
        found.debuggingPort = m_portOverride ? m_portOverride : DebuggingPortOfProcess(found.pid);
        break;
    }
    return found;
}

QString X11BrowserAccess::visiblePage(quint16 port, QString* url)
{
    const DevToolsClient client(port);
    const std::optional<QJsonArray> pages = client.pages();
    if (!pages || pages->isEmpty())
        return {};
    for (const QJsonValue& value : *pages) {
        const QJsonObject page = value.toObject();
        const QString socket = page.value(QStringLiteral("webSocketDebuggerUrl")).toString();
        if (client.evaluate(socket, QStringLiteral("document.visibilityState"))
                .value_or(QJsonValue())
                .toString() == u"visible") {
            if (url)
                *url = page.value(QStringLiteral("url")).toString();
            return socket;
        }
    }
    return {};
}

namespace {

/// Where the page's viewport is, from the page's own account of its window.
std::optional<ViewportGeometry> pageGeometry(const DevToolsClient& client, const QString& page)
{
    const QJsonObject metrics = client.evaluate(page, QString::fromLatin1(kMetricsScript))
                                    .value_or(QJsonValue())
                                    .toObject();
    if (metrics.isEmpty())
        return std::nullopt;
    auto number = [&](const char* key) {
        return metrics.value(QLatin1String(key)).toDouble();
    };
    ViewportGeometry geometry = ViewportGeometry::fromWindowMetrics(
        {number("x"), number("y")}, {number("ow"), number("oh")}, {number("iw"), number("ih")},
        number("dpr"), 1);
    const QJsonObject origin = metrics.value(QStringLiteral("origin")).toObject();
    if (!origin.isEmpty())
        geometry.originDip = QPointF(origin.value(QStringLiteral("x")).toDouble(),
                                     origin.value(QStringLiteral("y")).toDouble());
    return geometry;
}

} // namespace

QString X11BrowserAccess::GetAddressBarText()
{
    const BrowserWindow browser = FindBrowserFrame();
    if (browser.window == 0 || browser.debuggingPort == 0)
        return {};
    QString url;
    visiblePage(browser.debuggingPort, &url);
    return url.left(kAddressLimit);
}

std::optional<MovieAtPoint> X11BrowserAccess::movieAt(QPoint screen, bool pause)
{
    const std::optional<BrowserDocument> document = GetBrowserDocument();
    if (!document)
        return std::nullopt;
    const DevToolsClient client(document->port);
    const std::optional<ViewportGeometry> geometry = pageGeometry(client, document->webSocketUrl);
    if (!geometry)
        return std::nullopt;
    const QPointF css = geometry->screenToCss(screen);
    const QString script = QString::fromLatin1(kFindMovieScript)
                               .arg(css.x())
                               .arg(css.y())
                               .arg(pause ? QStringLiteral("true") : QStringLiteral("false"));
    const QJsonObject hit =
        client.evaluate(document->webSocketUrl, script).value_or(QJsonValue()).toObject();
    if (hit.isEmpty())
        return std::nullopt;
    auto number = [&](const char* key) {
        return hit.value(QLatin1String(key)).toDouble();
    };
    MovieAtPoint movie;
    movie.address = hit.value(QStringLiteral("address")).toString();
    movie.screenRect =
        geometry
            ->cssToScreen(QRectF(number("left"), number("top"), number("width"), number("height")))
            .toAlignedRect();
    return movie;
}

std::optional<MovieAtPoint> X11BrowserAccess::FindMovieAtPoint(QPoint screen)
{
    return movieAt(screen, false);
}

bool X11BrowserAccess::PauseMovieAtPoint(QPoint screen)
{
    return movieAt(screen, true).has_value();
}

std::optional<BrowserDocument> X11BrowserAccess::GetBrowserDocument()
{
    const BrowserWindow browser = FindBrowserFrame();
    if (browser.window == 0 || browser.debuggingPort == 0)
        return std::nullopt;
    BrowserDocument document;
    document.port = browser.debuggingPort;
    document.webSocketUrl = visiblePage(browser.debuggingPort, &document.url);
    if (document.webSocketUrl.isEmpty())
        return std::nullopt;
    return document;
}

qint64 X11BrowserAccess::processAtPoint(QPoint screen, QString* wmClass)
{
    const QuietDisplay display;
    if (!display)
        return 0;
    const Window root = DefaultRootWindow(display.get());
    const std::vector<unsigned long> stacking =
        windowProperty(display.get(), root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    // Topmost first: the first mapped client whose area holds the point is the one under it.
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display.get(), *it, &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display.get(), *it, root, 0, 0, &x, &y, &child);
        if (!QRect(x, y, attributes.width, attributes.height).contains(screen))
            continue;
        if (wmClass)
            *wmClass = wmClassOf(display.get(), *it);
        const auto pid = windowProperty(display.get(), *it, "_NET_WM_PID", XA_CARDINAL);
        return pid.empty() ? 0 : static_cast<qint64>(pid.front());
    }
    return 0;
}

bool X11BrowserAccess::ClassifyPointerWindow(QPoint& screen)
{
    QString wmClass;
    const qint64 pid = processAtPoint(screen, &wmClass);
    if (pid != 0 && pid == QCoreApplication::applicationPid())
        return true; // the shortcut bar, its buttons or one of our menus
    if (!isBrowserClass(wmClass))
        return false;
    return FindMovieAtPoint(screen).has_value();
}
