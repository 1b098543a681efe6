// The shortcut bar's question "is a movie under the pointer?" answered by a real browser (headless
// Chromium with a debugging port, then headless Firefox with WebDriver BiDi) through the
// program's browser sessions: the time from the question to the answer over 1 000 points, and
// the longest the event loop went without a beat meanwhile, and while a debugging port takes
// connections and never answers.

#include "benchfixtures.h"

#include "browsersessions.h"
#include "devtools/devtoolssession.h"
#include "testserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char kMoviePage[] = R"(<!DOCTYPE html><html><body style="margin:0">
<embed src="movies/game.swf?level=2" type="application/x-shockwave-flash"
       style="display:block;width:400px;height:300px;margin:20px">
<div style="height:2000px"></div></body></html>)";

/// Asks about a point and serves events until the answer comes; its time in milliseconds, and
/// whether a movie was there. Negative when no answer came within five seconds.
double askAndWait(BrowserSession& session, const BrowserEndpoint& browser, QPoint point,
                  bool* movie = nullptr)
{
    QEventLoop loop;
    bool answered = false;
    const QMetaObject::Connection connection =
        QObject::connect(&session, &BrowserSession::located,
                         [&](QPoint screen, const std::optional<MovieAtPoint>& found) {
                             if (screen != point)
                                 return;
                             answered = true;
                             if (movie)
                                 *movie = found.has_value();
                             loop.quit();
                         });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    session.FindMovieAtPoint(browser, point);
    if (!answered)
        loop.exec();
    QObject::disconnect(connection);
    return answered ? static_cast<double>(clock.nsecsElapsed()) / 1e6 : -1;
}

/// The port a browser started with port 0 wrote into its profile; 0 until then.
quint16 activePort(const QString& profile, BrowserKind kind)
{
    if (kind == BrowserKind::Firefox) {
        QFile file(QDir(profile).filePath(QStringLiteral("WebDriverBiDiServer.json")));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<quint16>(QJsonDocument::fromJson(file.readAll())
                                        .object()
                                        .value(QStringLiteral("ws_port"))
                                        .toInt());
    }
    QFile file(QDir(profile).filePath(QStringLiteral("DevToolsActivePort")));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<quint16>(file.readLine().trimmed().toUInt());
}

double percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

void runHungPort()
{
    QTcpServer hung;
    std::vector<QTcpSocket*> held;
    if (!hung.listen(QHostAddress::LocalHost))
        return;
    QObject::connect(&hung, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = hung.nextPendingConnection())
            held.push_back(socket);
    });
    DevToolsSession session;
    Heartbeat heartbeat;
    heartbeat.start();
    // Notifications keep coming for four seconds while the port says nothing.
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer pointer;
    int point = 0;
    QObject::connect(&pointer, &QTimer::timeout, [&] {
        session.FindMovieAtPoint({hung.serverPort()}, QPoint(point % 500, 100 + point % 300));
        ++point;
        if (clock.elapsed() > 4000)
            loop.quit();
    });
    pointer.start(5);
    loop.exec();
    std::printf("  a port that never answers, %4d points over 4 s: longest event-loop gap %3lld ms"
                " (target <= 16)\n",
                point, static_cast<long long>(heartbeat.stop()));
}

/// 1 000 questions to one browser, on its page's movie and off it in turn.
void measureBrowser(const QString& program, const QStringList& arguments, const QString& profile,
                    BrowserKind kind)
{
    QProcess browser;
    browser.start(program, arguments);
    QElapsedTimer startUp;
    startUp.start();
    quint16 port = 0;
    while ((port = activePort(profile, kind)) == 0 && startUp.elapsed() < 60000)
        QTest::qWait(50);
    BrowserSessions session;
    const BrowserEndpoint endpoint{port, kind};
    // The page is up once its movie is found at some point down its first column.
    std::optional<QPoint> overMovie;
    while (!overMovie && port != 0 && startUp.elapsed() < 60000) {
        for (int y = 0; y < 700 && !overMovie; y += 20) {
            bool movie = false;
            if (askAndWait(session, endpoint, QPoint(100, y), &movie) >= 0 && movie)
                overMovie = QPoint(100, y);
        }
    }
    if (!overMovie) {
        std::printf("  the browser never showed the page: skipped\n");
    } else {
        std::vector<double> times;
        int wrong = 0;
        Heartbeat heartbeat;
        heartbeat.start();
        for (int i = 0; i < 1000; ++i) {
            // On the movie and off it in turn, never the same point twice running.
            const bool onMovie = i % 2 == 0;
            const QPoint point =
                onMovie ? *overMovie + QPoint(i % 50, 0) : QPoint(800, 400 + i % 50);
            bool movie = false;
            const double ms = askAndWait(session, endpoint, point, &movie);
            if (ms < 0 || movie != onMovie)
                ++wrong;
            times.push_back(ms < 0 ? 5000 : ms);
        }
        const qint64 gap = heartbeat.stop();
        std::printf("  1000 points (movie / no movie): median %5.2f ms (target <= 10), 99th "
                    "percentile %5.2f ms (target <= 50), %d wrong or unanswered\n",
                    percentile(times, 0.5), percentile(times, 0.99), wrong);
        std::printf("  longest event-loop gap meanwhile %lld ms (target <= 16)\n",
                    static_cast<long long>(gap));
    }
    bool ended = false;
    session.end([&] { ended = true; });
    (void)QTest::qWaitFor([&] { return ended; }, 3000);
    browser.kill();
    browser.waitForFinished();
}

} // namespace

void RunPointerComparison()
{
    std::printf("\nThe shortcut bar's question to the browser:\n");
    TestServer server;
    server.server().Get("/page.html", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(kMoviePage, "text/html");
    });
    server.start();
    const QString page = QString::fromStdString(server.url("/page.html"));
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) {
        std::printf("  chromium is not installed: skipped\n");
    } else {
        std::printf(" Chromium (DevTools protocol):\n");
        QTemporaryDir profile;
        measureBrowser(chromium,
                       {QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"),
                        QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                        QStringLiteral("--remote-debugging-port=0"),
                        QStringLiteral("--user-data-dir=") + profile.path(),
                        QStringLiteral("--window-size=1000,700"), page},
                       profile.path(), BrowserKind::Chromium);
    }
    const QString firefox = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
    if (firefox.isEmpty()) {
        std::printf("  firefox-esr is not installed: skipped\n");
    } else {
        std::printf(" Firefox (WebDriver BiDi):\n");
        QTemporaryDir profile;
        measureBrowser(firefox,
                       {QStringLiteral("--headless"), QStringLiteral("--remote-debugging-port"),
                        QStringLiteral("0"), QStringLiteral("--profile"), profile.path(),
                        QStringLiteral("--no-remote"), QStringLiteral("--width=1000"),
                        QStringLiteral("--height=700"), page},
                       profile.path(), BrowserKind::Firefox);
    }
    runHungPort();
}
