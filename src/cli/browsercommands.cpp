
#include "browseraccess.h"
#include "browserurls.h"
#include "commandline.h"
#include "privatefolder.h"
#include "commands.h"
#include "datafolder.h"
#include "browserconnection.h"
#include "browsersessions.h"
#include "platformfactory.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

namespace {

/// Runs `ask`, which calls the function it is given once its answer is in, and waits for that
/// here at the tool's top level, for at most `deadlineMs` (the browser layer answers within its
/// own deadlines; this one only guards the tool).
void waitForAnswer(const std::function<void(std::function<void()> done)>& ask, int deadlineMs)
{
    QEventLoop loop;
    bool answered = false;
    ask([&] {
        answered = true;
        loop.quit();
    });
    if (answered)
        return;
    QTimer::singleShot(deadlineMs, &loop, &QEventLoop::quit);
    loop.exec();
}

/// Firefox allows one session, and a running Clip Vault holds it: said plainly, exit 1.
int sessionRefused(const BrowserSessions& session, QTextStream& err)
{
    if (!session.firefoxRefused())
        return 0;
    err << "clipvault-cli: Clip Vault (or another program) is connected to this Firefox; "
           "Firefox allows one connection at a time: ask the running Clip Vault, or close it "
           "and try again"
        << Qt::endl;
    return 1;
}

QString kindName(BrowserKind kind)
{
    return kind == BrowserKind::Firefox ? QStringLiteral("Firefox, WebDriver BiDi")
                                        : QStringLiteral("Chromium family, DevTools protocol");
}

QString addressBarText(BrowserSessions& session, const BrowserEndpoint& browser)
{
    QString address;
    waitForAnswer(
        [&](auto done) {
            session.GetAddressBarText(browser, &session, [&, done](const QString& answer) {
                address = answer;
                done();
            });
        },
        2 * BrowserSession::kTabAnswerMs);
    return address;
}

std::optional<MovieAtPoint> movieAtPoint(BrowserSessions& session, const BrowserEndpoint& browser,
                                         QPoint screen)
{
    std::optional<MovieAtPoint> movie;
    waitForAnswer(
        [&](auto done) {
            QObject::connect(&session, &BrowserSession::located, &session,
                             [&, done](QPoint, const std::optional<MovieAtPoint>& found) {
                                 movie = found;
                                 done();
                             });
            session.FindMovieAtPoint(browser, screen);
        },
        // The session may first be opened, then the question asked.
        BrowserConnection::kConnectMs + 2 * BrowserSession::kAnswerMs);
    return movie;
}

QList<TabMovie> tabMovies(BrowserSessions& session, const BrowserEndpoint& browser)
{
    QList<TabMovie> movies;
    waitForAnswer(
        [&](auto done) {
            session.FindTabMovies(browser, &session, [&, done](const QList<TabMovie>& found) {
                movies = found;
                done();
            });
        },
        2 * BrowserSession::kTabAnswerMs);
    return movies;
}

/// Whether the tool runs in a Wayland desktop session (an X11 display there is XWayland's, which
/// sees only its own clients' windows).
bool onWaylandSession()
{
    return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland";
}

void printTabMovies(const QList<TabMovie>& movies, bool json, QTextStream& out)
{
    if (json) {
        out << TabMoviesJson(movies) << Qt::endl;
        return;
    }
    for (const TabMovie& movie : movies)
        out << movie.url << '\t' << movie.seenAs.join(u',') << '\t' << movie.frame << '\n';
}

int listTabMovies(const BrowserEndpoint& browser, BrowserSessions& session, bool json,
                  QTextStream& out, QTextStream& err)
{
    if (!browser.isKnown()) {
        err << "clipvault-cli: no browser to ask (clipvault-cli browser status tells why)"
            << Qt::endl;
        return 1;
    }
    const QList<TabMovie> movies = tabMovies(session, browser);
    if (const int refused = sessionRefused(session, err))
        return refused;
    printTabMovies(movies, json, out);
    return 0;
}

/// The visible tab's movies through a browser companion connected to the running program;
/// nothing when the program is not running or has none connected.
std::optional<QList<TabMovie>> companionTabMovies(const QString& dataFolder)
{
    constexpr int kAskMs = BrowserSession::kTabAnswerMs + 1000;
    const std::optional<QByteArray> reply =
        AskRunningProgram(dataFolder, QByteArray(kTabMoviesRequest), kAskMs);
    if (!reply || reply->isEmpty())
        return std::nullopt;
    return TabMoviesFromJson(*reply);
}

/// The browsers whose companion is connected to the running program, a line each.
QString companionsStatus(const QString& dataFolder)
{
    constexpr int kAskMs = 2000;
    const std::optional<QByteArray> reply =
        AskRunningProgram(dataFolder, QByteArray(kCompanionsRequest), kAskMs);
    if (!reply)
        return QStringLiteral("browser companion: none (Clip Vault is not running)\n");
    const QList<QByteArray> browsers = reply->split('\n');
    QString lines;
    for (const QByteArray& browser : browsers) {
        if (!browser.isEmpty())
            lines += QStringLiteral("browser companion: %1, connected to Clip Vault\n")
                         .arg(QString::fromUtf8(browser));
    }
    return lines.isEmpty() ? QStringLiteral("browser companion: none connected\n") : lines;
}

/// "browser status": the browser window in front, the endpoint asked and its visible tab.
int browserStatus(BrowserAccess& browser, BrowserPorts ports, const QString& dataFolder,
                  bool companion, BrowserSessions& session, QTextStream& out, QTextStream& err)
{
    // With a companion connected, no debugging port is needed: none is advised.
    const char* companionAnswers =
        "debugging endpoint: none (none needed: the browser companion answers)\n";
    BrowserWindow window = browser.FindBrowserFrame();
    if (window.window == 0) {
        out << (onWaylandSession()
                    ? "browser window: none (a Wayland desktop shows no program the windows "
                      "of another)\n"
                    : "browser window: none (no Chromium-family or Firefox window on this "
                      "display)\n");
        // A port set in clipvault.conf, or the browser the program started, is still asked.
        window.browser = BrowserToAsk(window, ports, dataFolder);
        if (!window.browser.isKnown()) {
            out << (companion ? companionAnswers
                              : "debugging endpoint: none (Tools > Open a browser for Clip Vault "
                                "starts one; or name its port in clipvault.conf)\n");
            return 1;
        }
    } else {
        out << "browser window: 0x" << QString::number(window.window, 16) << " (" << window.wmClass
            << "), process " << window.pid << '\n';
    }
    if (!window.browser.isKnown()) {
        out << (companion ? companionAnswers
                : window.browser.kind == BrowserKind::Firefox
                    ? "debugging endpoint: none (start Firefox with --remote-debugging-port 0 "
                      "--profile DIR)\n"
                    : "debugging endpoint: none (start the browser with "
                      "--remote-debugging-port=0 and a --user-data-dir of its own)\n");
        return 1;
    }
    out << "debugging endpoint: 127.0.0.1:" << window.browser.port << " ("
        << kindName(window.browser.kind) << ")\n";
    const QString url = addressBarText(session, window.browser);
    if (const int refused = sessionRefused(session, err))
        return refused;
    if (!url.isEmpty())
        out << "connected through: " << session.route(window.browser) << '\n';
    out << "visible tab: " << (url.isEmpty() ? QStringLiteral("none") : url) << '\n';
    return url.isEmpty() ? 1 : 0;
}

/// "browser at X Y": the movie under a point of the screen, as the shortcut bar would find it.
int browserAt(BrowserAccess& browser, QPoint point, bool json, BrowserSessions& session,
              QTextStream& out, QTextStream& err)
{
    // A Wayland desktop tells no program what is at a point of the screen (an X11 window of
    // XWayland sees only its own): there the bar is the companion's, in the page.
    if (onWaylandSession()) {
        err << "clipvault-cli: a Wayland desktop gives no program the screen's points; the "
               "browser companion's bar works in the page itself\n";
        return 1;
    }
    // The browser whose page is under the point, as the shortcut bar would ask it.
    const PointerScene scene = browser.ClassifyPointerWindow(point);
    const std::optional<MovieAtPoint> movie =
        scene.over != PointerScene::Over::BrowserPage || !scene.browser.isKnown()
            ? std::nullopt
            : movieAtPoint(session, scene.browser, point);
    if (const int refused = sessionRefused(session, err))
        return refused;
    if (!movie) {
        err << "clipvault-cli: no Flash movie under " << point.x() << ',' << point.y() << Qt::endl;
        return 1;
    }
    const QRect& r = movie->screenRect;
    // Where the reference points, as the bar files it: the page's text alone may not tell.
    const QString resolved = BarMovieAddress(movie->address, movie->frameUrl, movie->pageUrl);
    if (json) {
        const QJsonObject object{
            {QStringLiteral("address"), movie->address}, {QStringLiteral("resolved"), resolved},
            {QStringLiteral("left"), r.left()},          {QStringLiteral("top"), r.top()},
            {QStringLiteral("width"), r.width()},        {QStringLiteral("height"), r.height()}};
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
    } else {
        out << movie->address << '\n'
            << r.left() << ' ' << r.top() << ' ' << r.width() << ' ' << r.height() << '\n'
            << resolved << '\n';
    }
    return 0;
}

/// "browser status", "browser at X Y" and "browser movies": what the program sees of the
/// user's browser. `ports` (from clipvault.conf; 0: none) replace the ports found from the
/// browsers.
int runBrowserCommand(const QStringList& words, bool json, BrowserPorts ports,
                      const QString& dataFolder, bool companion, BrowserSessions& session,
                      QTextStream& out, QTextStream& err)
{
    const std::unique_ptr<BrowserAccess> access = platform::createBrowserAccess(ports);
    if (words.value(1) == u"status" && words.size() == 2)
        return browserStatus(*access, ports, dataFolder, companion, session, out, err);
    if (words.value(1) == u"movies" && words.size() == 2)
        return listTabMovies(BrowserToAsk(access->FindBrowserFrame(), ports, dataFolder), session,
                             json, out, err);
    bool xOk = false;
    bool yOk = false;
    const int x = words.value(2).toInt(&xOk);
    const int y = words.value(3).toInt(&yOk);
    if (words.value(1) != u"at" || words.size() != 4 || !xOk || !yOk) {
        err << "usage: clipvault-cli browser status | browser at X Y [--json] | browser movies "
               "[--json]\n";
        return 2;
    }
    return browserAt(*access, QPoint(x, y), json, session, out, err);
}

} // namespace

int cli::RunBrowser(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    const QString dataFolder = DataFolderOf(line);
    // A companion connected to the running program answers first, as it does in the program.
    if (line.words.value(1) == u"movies" && line.words.size() == 2) {
        if (const auto movies = companionTabMovies(dataFolder)) {
            printTabMovies(*movies, line.json, out);
            return 0;
        }
    }
    BrowserSessions session;
    const VaultSettings conf = LoadVaultSettings(dataFolder);
    const QString companions =
        line.words.value(1) == u"movies" ? QString() : companionsStatus(dataFolder);
    const bool companion = companions.contains(QStringLiteral(", connected to Clip Vault"));
    int code = runBrowserCommand(line.words, line.json, {conf.debuggingPort, conf.firefoxPort},
                                 dataFolder, companion, session, out, err);
    if (line.words.value(1) == u"status") {
        out << companions;
        // A connected companion is a way to the browser, with or without a window to find.
        if (companion)
            code = 0;
    } else if (line.words.value(1) == u"at" && code == 1 && companion) {
        // The companion's bar finds a movie in the page, where the pointer is; a point of the
        // screen needs the browser's own answer.
        err << "clipvault-cli: the browser companion draws its bar in the page and knows no "
               "point of the screen; \"browser at\" needs the browser's debugging port "
               "(Tools > Open a browser for Clip Vault starts one)"
            << Qt::endl;
    }
    // Firefox allows one session: the tool's ends before the tool does.
    waitForAnswer([&](auto done) { session.end(done); }, BrowserConnection::kCallMs);
    return code;
}
