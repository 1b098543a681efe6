// The tab's movies of a page with 50 frames, asked of headless Chromium: the program's session
// (a new connection, every frame's world found and asked, the answer gathered) against a minimal
// client that opens one socket to the page and sends one Runtime.evaluate per frame, one after
// another. Both start from a new connection each time; best of five each.

#include "benchfixtures.h"

#include "devtools/devtoolssession.h"
#include "devtools/pagescripts.h"
#include "testserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kFrames = 50;

/// Serves events until `done` holds (checked whenever `wake` quits the loop) or five seconds:
/// no polling, so that the peer waits no longer than its answers take.
void waitFor(QEventLoop& wake, const std::function<bool()>& done)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &wake, &QEventLoop::quit);
    deadline.start(5000);
    while (!done() && deadline.isActive())
        wake.exec();
}

/// The minimal client: the page's socket from /json/list, its frames' worlds from
/// Runtime.enable, then one evaluation per frame, one after another. The movies it counted.
int minimalClient(quint16 port)
{
    QNetworkAccessManager network;
    QEventLoop wake;
    QNetworkReply* list = network.get(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(port))));
    QObject::connect(list, &QNetworkReply::finished, &wake, &QEventLoop::quit);
    waitFor(wake, [&] { return list->isFinished(); });
    QString socketUrl;
    for (const QJsonValue& target : QJsonDocument::fromJson(list->readAll()).array()) {
        if (target.toObject().value(QStringLiteral("type")).toString() == u"page")
            socketUrl = target.toObject().value(QStringLiteral("webSocketDebuggerUrl")).toString();
    }
    list->deleteLater();
    QWebSocket socket;
    QList<int> contexts;
    QJsonObject reply;
    int waitingFor = 0;
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message.value(QStringLiteral("method")).toString() ==
            u"Runtime.executionContextCreated") {
            const QJsonObject context = message.value(QStringLiteral("params"))
                                            .toObject()
                                            .value(QStringLiteral("context"))
                                            .toObject();
            if (context.value(QStringLiteral("auxData"))
                    .toObject()
                    .value(QStringLiteral("isDefault"))
                    .toBool())
                contexts << context.value(QStringLiteral("id")).toInt();
        } else if (message.value(QStringLiteral("id")).toInt() == waitingFor) {
            reply = message;
            wake.quit();
        }
    });
    QObject::connect(&socket, &QWebSocket::connected, &wake, &QEventLoop::quit);
    socket.open(QUrl(socketUrl));
    waitFor(wake, [&] { return socket.state() == QAbstractSocket::ConnectedState; });
    int id = 0;
    const auto call = [&](const QString& method, const QJsonObject& params) {
        reply = {};
        waitingFor = ++id;
        socket.sendTextMessage(
            QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("id"), id},
                                                        {QStringLiteral("method"), method},
                                                        {QStringLiteral("params"), params}})
                                  .toJson(QJsonDocument::Compact)));
        waitFor(wake, [&] { return !reply.isEmpty(); });
        return reply;
    };
    call(QStringLiteral("Runtime.enable"), {});
    call(QStringLiteral("Runtime.disable"), {});
    int movies = 0;
    for (const int context : std::as_const(contexts)) {
        const QJsonObject result = call(QStringLiteral("Runtime.evaluate"),
                                        {{QStringLiteral("expression"), PageScripts::tabMovies()},
                                         {QStringLiteral("contextId"), context},
                                         {QStringLiteral("returnByValue"), true}});
        movies += static_cast<int>(result.value(QStringLiteral("result"))
                                       .toObject()
                                       .value(QStringLiteral("result"))
                                       .toObject()
                                       .value(QStringLiteral("value"))
                                       .toObject()
                                       .value(QStringLiteral("movies"))
                                       .toArray()
                                       .size());
    }
    return movies;
}

/// The program's session, new for each question as the command line makes it.
int programSession(quint16 port)
{
    DevToolsSession session;
    std::optional<int> movies;
    QEventLoop wake;
    session.FindTabMovies({port}, &session, [&](const QList<TabMovie>& found) {
        movies = int(found.size());
        wake.quit();
    });
    waitFor(wake, [&] { return movies.has_value(); });
    return movies.value_or(-1);
}

double bestOfFive(const std::function<int()>& run, int* counted)
{
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        *counted = run();
        best = std::min(best, static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

void RunTabMoviesComparison()
{
    std::printf("\nThe tab's movies, a page with %d frames:\n", kFrames);
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty()) {
        std::printf("  chromium is not installed: skipped\n");
        return;
    }
    TestServer server;
    server.server().Get("/frames.html", [](const httplib::Request&, httplib::Response& response) {
        std::string page = "<body>";
        for (int i = 0; i < kFrames; ++i)
            page += "<iframe src='/frame/" + std::to_string(i) + ".html'></iframe>";
        response.set_content(page + "</body>", "text/html");
    });
    server.server().Get(R"(/frame/(\d+)\.html)",
                        [](const httplib::Request& request, httplib::Response& response) {
                            response.set_content("<embed src='m" + std::string(request.matches[1]) +
                                                     ".swf' type='application/x-shockwave-flash'>",
                                                 "text/html");
                        });
    server.start();
    QTemporaryDir profile;
    QProcess browser;
    browser.start(chromium, {QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"),
                             QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                             QStringLiteral("--remote-debugging-port=0"),
                             QStringLiteral("--user-data-dir=") + profile.path(),
                             QString::fromStdString(server.url("/frames.html"))});
    quint16 port = 0;
    QElapsedTimer startUp;
    startUp.start();
    while (port == 0 && startUp.elapsed() < 60000) {
        QFile file(QDir(profile.path()).filePath(QStringLiteral("DevToolsActivePort")));
        if (file.open(QIODevice::ReadOnly))
            port = static_cast<quint16>(file.readLine().trimmed().toUInt());
        QTest::qWait(50);
    }
    // Every frame loaded: the minimal client counts all their movies.
    int peerMovies = 0;
    while (port != 0 && startUp.elapsed() < 60000 && (peerMovies = minimalClient(port)) < kFrames)
        QTest::qWait(200);
    if (peerMovies < kFrames) {
        std::printf("  the browser never showed the page: skipped\n");
    } else {
        int ours = 0;
        int peer = 0;
        const double program = bestOfFive([&] { return programSession(port); }, &ours);
        const double client = bestOfFive([&] { return minimalClient(port); }, &peer);
        std::printf(
            "  program's session %6.1f ms (%d movies) | minimal client %6.1f ms (%d movies): "
            "%.2f x (target <= 2)\n",
            program, ours, client, peer, program / client);
    }
    browser.kill();
    browser.waitForFinished();
}
