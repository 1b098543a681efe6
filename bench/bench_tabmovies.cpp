// The tab's movies of a page with 50 frames, asked of headless Chromium, each side timed as a
// process from start to exit: `clipvault-cli browser movies --json` (its data folder naming the
// browser's port) against a minimal client, bench/devtools_minimal_client.py, that opens one
// socket to the page and sends one Runtime.evaluate per frame, one after another. Best of five.

#include "benchfixtures.h"

#include "pagescripts.h"
#include "testserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kFrames = 50;

/// Runs a program to its end; its standard output, empty when it failed.
QByteArray runToEnd(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

/// The fastest of five runs in milliseconds, and the movies the last one counted.
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
    // The program's data folder names the browser, which has no window to be found by.
    QTemporaryDir data;
    QFile config(QDir(data.path()).filePath(QStringLiteral("clipvault.conf")));
    if (config.open(QIODevice::WriteOnly))
        config.write("[General]\ndebuggingPort=" + QByteArray::number(port) + "\n");
    config.close();
    QFile script(QDir(data.path()).filePath(QStringLiteral("tabmovies.js")));
    if (script.open(QIODevice::WriteOnly))
        script.write(PageScripts::tabMovies().toUtf8());
    script.close();
    const auto program = [&] {
        return static_cast<int>(
            QJsonDocument::fromJson(
                runToEnd(QStringLiteral(CLIPVAULT_CLI),
                         {QStringLiteral("--data-dir"), data.path(), QStringLiteral("browser"),
                          QStringLiteral("movies"), QStringLiteral("--json")}))
                .array()
                .size());
    };
    const auto peer = [&] {
        return runToEnd(QStringLiteral("python3"),
                        {QStringLiteral(CLIPVAULT_SOURCE_DIR "/bench/devtools_minimal_client.py"),
                         QString::number(port), script.fileName()})
            .trimmed()
            .toInt();
    };
    // Every frame loaded: the minimal client counts all their movies.
    int peerMovies = 0;
    while (port != 0 && startUp.elapsed() < 60000 && (peerMovies = peer()) < kFrames)
        QTest::qWait(200);
    if (peerMovies < kFrames) {
        std::printf("  the browser never showed the page: skipped\n");
    } else {
        int ours = 0;
        int theirs = 0;
        const double programMs = bestOfFive(program, &ours);
        const double peerMs = bestOfFive(peer, &theirs);
        std::printf("  clipvault-cli browser movies %6.1f ms (%d movies) | minimal client %6.1f ms "
                    "(%d movies): %.2f x (target <= 2)\n",
                    programMs, ours, peerMs, theirs, programMs / peerMs);
    }
    browser.kill();
    browser.waitForFinished();
}
