#include "browsercommands.h"

#include "browseraccess.h"
#include "commandline.h"
#include "commands.h"
#include "datafolder.h"
#include "browserconnection.h"
#include "devtools/devtoolssession.h"
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

QString addressBarText(DevToolsSession& session, quint16 port)
{
    QString address;
    waitForAnswer(
        [&](auto done) {
            session.GetAddressBarText(port, &session, [&, done](const QString& answer) {
                address = answer;
                done();
            });
        },
        2 * BrowserSession::kTabAnswerMs);
    return address;
}

std::optional<MovieAtPoint> movieAtPoint(DevToolsSession& session, quint16 port, QPoint screen)
{
    std::optional<MovieAtPoint> movie;
    waitForAnswer(
        [&](auto done) {
            QObject::connect(&session, &BrowserSession::located, &session,
                             [&, done](QPoint, const std::optional<MovieAtPoint>& found) {
                                 movie = found;
                                 done();
                             });
            session.FindMovieAtPoint(port, screen);
        },
        // The session may first be opened, then the question asked.
        BrowserConnection::kConnectMs + 2 * BrowserSession::kAnswerMs);
    return movie;
}

QList<TabMovie> tabMovies(DevToolsSession& session, quint16 port)
{
    QList<TabMovie> movies;
    waitForAnswer(
        [&](auto done) {
            session.FindTabMovies(port, &session, [&, done](const QList<TabMovie>& found) {
                movies = found;
                done();
            });
        },
        2 * BrowserSession::kTabAnswerMs);
    return movies;
}

int listTabMovies(BrowserAccess& browser, DevToolsSession& session, bool json, QTextStream& out,
                  QTextStream& err)
{
    const BrowserWindow window = browser.FindBrowserFrame();
    if (window.window == 0 || window.debuggingPort == 0) {
        err << "clipvault-cli: no browser to ask (clipvault-cli browser status tells why)"
            << Qt::endl;
        return 1;
    }
    const QList<TabMovie> movies = tabMovies(session, window.debuggingPort);
    if (json) {
        QJsonArray array;
        for (const TabMovie& movie : movies)
            array.append(
                QJsonObject{{QStringLiteral("url"), movie.url},
                            {QStringLiteral("frame"), movie.frame},
                            {QStringLiteral("seenAs"), QJsonArray::fromStringList(movie.seenAs)}});
        out << QJsonDocument(array).toJson(QJsonDocument::Compact) << Qt::endl;
    } else {
        for (const TabMovie& movie : movies)
            out << movie.url << '\t' << movie.seenAs.join(u',') << '\t' << movie.frame << '\n';
    }
    return 0;
}

} // namespace

int RunBrowserCommand(const QStringList& words, bool json, quint16 portOverride, QTextStream& out,
                      QTextStream& err)
{
    const std::unique_ptr<BrowserAccess> access = platform::createBrowserAccess(portOverride);
    BrowserAccess& browser = *access;
    DevToolsSession session;
    if (words.value(1) == u"status" && words.size() == 2) {
        const BrowserWindow window = browser.FindBrowserFrame();
        if (window.window == 0) {
            out << "browser window: none (no Chromium-family window on this display)\n";
            return 1;
        }
        out << "browser window: 0x" << QString::number(window.window, 16) << " (" << window.wmClass
            << "), process " << window.pid << '\n';
        if (window.debuggingPort == 0) {
            out << "debugging endpoint: none (start the browser with --remote-debugging-port=0 and "
                   "a "
                   "--user-data-dir of its own)\n";
            return 1;
        }
        out << "debugging endpoint: 127.0.0.1:" << window.debuggingPort << '\n';
        const QString url = addressBarText(session, window.debuggingPort);
        out << "visible tab: " << (url.isEmpty() ? QStringLiteral("none") : url) << '\n';
        return url.isEmpty() ? 1 : 0;
    }
    if (words.value(1) == u"movies" && words.size() == 2)
        return listTabMovies(browser, session, json, out, err);
    bool xOk = false;
    bool yOk = false;
    const int x = words.value(2).toInt(&xOk);
    const int y = words.value(3).toInt(&yOk);
    if (words.value(1) != u"at" || words.size() != 4 || !xOk || !yOk) {
        err << "usage: clipvault-cli browser status | browser at X Y [--json] | browser movies "
               "[--json]\n";
        return 2;
    }
    // The browser whose page is under the point, as the shortcut bar would ask it.
    const PointerScene scene = browser.ClassifyPointerWindow(QPoint(x, y));
    const std::optional<MovieAtPoint> movie =
        scene.over != PointerScene::Over::BrowserPage || scene.debuggingPort == 0
            ? std::nullopt
            : movieAtPoint(session, scene.debuggingPort, QPoint(x, y));
    if (!movie) {
        err << "clipvault-cli: no Flash movie under " << x << ',' << y << Qt::endl;
        return 1;
    }
    const QRect& r = movie->screenRect;
    if (json) {
        const QJsonObject object{{QStringLiteral("address"), movie->address},
                                 {QStringLiteral("left"), r.left()},
                                 {QStringLiteral("top"), r.top()},
                                 {QStringLiteral("width"), r.width()},
                                 {QStringLiteral("height"), r.height()}};
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
    } else {
        out << movie->address << '\n'
            << r.left() << ' ' << r.top() << ' ' << r.width() << ' ' << r.height() << '\n';
    }
    return 0;
}

int cli::RunBrowser(const CommandLine& line, QTextStream& out, QTextStream& err)
{
    return RunBrowserCommand(line.words, line.json, ConfiguredDebuggingPort(DataFolderOf(line)),
                             out, err);
}
