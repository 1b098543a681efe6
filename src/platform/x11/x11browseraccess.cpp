#include "x11browseraccess.h"

#include "platformfactory.h"

#include "bidi/firefoxport.h"
#include "devtools/debuggingport.h"

#include <QCoreApplication>
#include <QRect>

#include <vector>

// Xlib's macros clash with Qt's headers; it comes last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

/// One query on the kept connection. A window may close between the moment a list names it and
/// the request about it: the request then fails on its own instead of Xlib's default handler
/// ending the process (the command-line tool has no other handler).
class QuietDisplay
{
public:
    explicit QuietDisplay(Display* display)
        : m_previous(XSetErrorHandler(ignoreXError))
        , m_display(display)
    {
    }
    ~QuietDisplay()
    {
        if (m_display)
            XSync(m_display, False); // every error of ours arrives while ours is the handler
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

} // namespace

X11BrowserAccess::X11BrowserAccess(BrowserPorts ports)
    : m_ports(ports)
{
}

X11BrowserAccess::~X11BrowserAccess()
{
    if (m_display)
        XCloseDisplay(m_display);
}

Display* X11BrowserAccess::display()
{
    // One connection for the program's life, opened when first needed: a pointer move asks
    // several questions, and a connection per question costs more than the questions.
    if (!m_display && !m_displayFailed) {
        m_display = XOpenDisplay(nullptr);
        m_displayFailed = m_display == nullptr;
    }
    return m_display;
}

std::optional<BrowserKind> X11BrowserAccess::kindOfClass(const QString& wmClass)
{
    const QString lower = wmClass.toLower();
    for (const char* name : {"chromium", "google-chrome", "brave", "microsoft-edge"}) {
        if (lower.contains(QLatin1String(name)))
            return BrowserKind::Chromium;
    }
    if (lower.contains(QLatin1String("firefox")))
        return BrowserKind::Firefox;
    return std::nullopt;
}

bool X11BrowserAccess::isBrowserClass(const QString& wmClass)
{
    return kindOfClass(wmClass).has_value();
}

BrowserWindow X11BrowserAccess::FindBrowserFrame()
{
    BrowserWindow found;
    const QuietDisplay display(this->display());
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
        found.browser = endpointOf(found.pid, *kindOfClass(wmClass));
        break;
    }
    return found;
}

namespace {

/// The topmost client window under a screen point, with its class and process; none when the
/// point is over no client (the desktop).
struct ClientAtPoint
{
    QString wmClass;
    qint64 pid = 0;
};

std::optional<ClientAtPoint> clientAtPoint(Display* display, QPoint screen)
{
    const Window root = DefaultRootWindow(display);
    const std::vector<unsigned long> stacking =
        windowProperty(display, root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    // Topmost first: the first mapped client whose area holds the point is the one under it.
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, *it, &attributes) || attributes.map_state != IsViewable)
            continue;
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display, *it, root, 0, 0, &x, &y, &child);
        if (!QRect(x, y, attributes.width, attributes.height).contains(screen))
            continue;
        const auto pid = windowProperty(display, *it, "_NET_WM_PID", XA_CARDINAL);
        return ClientAtPoint{wmClassOf(display, *it), pid.empty() ? 0 : qint64(pid.front())};
    }
    return std::nullopt;
}

} // namespace

PointerScene X11BrowserAccess::ClassifyPointerWindow(QPoint screen)
{
    PointerScene scene;
    const QuietDisplay display(this->display());
    if (!display)
        return scene;
    const std::vector<unsigned long> active = windowProperty(
        display.get(), DefaultRootWindow(display.get()), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    scene.browserInFront = !active.empty() && active.front() != 0 &&
                           isBrowserClass(wmClassOf(display.get(), active.front()));
    const std::optional<ClientAtPoint> client = clientAtPoint(display.get(), screen);
    if (!client)
        return scene;
    if (client->pid != 0 && client->pid == QCoreApplication::applicationPid()) {
        scene.over = PointerScene::Over::OwnWindow;
    } else if (const std::optional<BrowserKind> kind = kindOfClass(client->wmClass)) {
        scene.over = PointerScene::Over::BrowserPage;
        scene.browser = endpointOf(client->pid, *kind);
    }
    return scene;
}

BrowserEndpoint X11BrowserAccess::endpointOf(qint64 pid, BrowserKind kind)
{
    const quint16 override = kind == BrowserKind::Firefox ? m_ports.firefox : m_ports.chromium;
    if (override != 0)
        return {override, kind};
    // A process keeps its port for life: its command line is read once it has one. One that has
    // none yet (a browser writes its port a moment after it starts) is looked at again, but not
    // on every pointer move.
    if (const auto known = m_knownEndpoints.constFind(pid); known != m_knownEndpoints.cend())
        return *known;
    if (const auto miss = m_misses.constFind(pid);
        miss != m_misses.cend() && !miss->hasExpired(kRecheckMs))
        return {0, kind};
    BrowserEndpoint found{0, kind};
    if (kind == BrowserKind::Firefox) {
        found.port = FirefoxPortOfProcess(pid);
    } else {
        const DebuggingEndpoint endpoint = DebuggingEndpointOfProcess(pid);
        found.port = endpoint.port;
        found.socketPath = endpoint.browserPath;
    }
    if (found.isKnown())
        m_knownEndpoints.insert(pid, found);
    else
        m_misses[pid].start();
    return found;
}

namespace platform {

std::unique_ptr<BrowserAccess> createBrowserAccess(BrowserPorts ports)
{
    // Window queries need an X display of their own; without one every answer is "none".
    return std::make_unique<X11BrowserAccess>(ports);
}

} // namespace platform
