// The browser companion in a real browser: headless Chromium with the companion loaded, reaching
// this Clip Vault (its catalogue, single-instance socket and bars, in this process) through the
// host and the manifests `browser connect` wrote. The bench drives the browser over a debugging
// port of its own, with the browser's own input events, and measures:
// - one clock from the browser's own pointer event over a movie to the bar painted (in the page:
//   the event's time stamp to the frame after the bar went in), beside the debugging-port bar's
//   question about the same point on the same page;
// - a choice on the bar (its first button, Down, Enter) to the item in the catalogue;
// - a page of 1 000 elements without movies: its load time with the companion against the same
//   browser without it, loading in turn;
// - the browser's copy of a 200 MiB movie handed to Clip Vault in pieces: its time, and the
//   growth of the browser's memory while it runs, against the same browser reading the same
//   answer whole in a page (as the companion once did, and a page does).

#include "benchfixtures.h"

#include "catalogue.h"
#include "vault.h"
#include "companionbars.h"
#include "companionlinks.h"
#include "drivenbrowser.h"
#include "devtools/devtoolssession.h"
#include "options.h"
#include "scripteddialogs.h"
#include "scriptedprompt.h"
#include "singleinstance.h"
#include "testserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int kMovies = 24;

/// The page's own record of the bar: the time stamp of the last trusted pointer move, and, each
/// time the bar goes in, the time from that move to the frame after it.
const char kBarClock[] = R"(<script>
window.__bar = {times: [], move: 0};
addEventListener("pointermove", e => { if (e.isTrusted) __bar.move = e.timeStamp; }, true);
new MutationObserver(records => {
  for (const r of records) for (const n of r.addedNodes) if (n.localName === "clipvault-bar") {
    const from = __bar.move;
    requestAnimationFrame(() => setTimeout(() => __bar.times.push(performance.now() - from), 0));
  }
}).observe(document.documentElement, {childList: true, subtree: true});
</script>)";

std::string moviesPage()
{
    std::string page = "<!DOCTYPE html><html><body style='margin:0'>" + std::string(kBarClock);
    for (int i = 0; i < kMovies; ++i)
        page += "<embed src='movies/m" + std::to_string(i) +
                ".swf' type='application/x-shockwave-flash' style='position:absolute;left:" +
                std::to_string(20 + (i % 6) * 160) +
                "px;top:" + std::to_string(20 + (i / 6) * 160) + "px;width:140px;height:140px'>";
    return page + "</body></html>";
}

std::string plainPage()
{
    std::string page = "<!DOCTYPE html><html><body>";
    for (int i = 0; i < 1000; ++i)
        page += "<div class='row'><span>row " + std::to_string(i) + "</span></div>";
    return page + "</body></html>";
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QPoint movieCorner(int i)
{
    return {20 + (i % 6) * 160, 20 + (i / 6) * 160};
}

/// The debugging-port bar's question about a point, answered: its time in ms.
double askDevTools(DevToolsSession& session, quint16 port, QPoint point)
{
    std::optional<double> took;
    QElapsedTimer clock;
    const QMetaObject::Connection heard = QObject::connect(
        &session, &BrowserSession::located, [&](QPoint screen, const std::optional<MovieAtPoint>&) {
            if (screen == point)
                took = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        });
    clock.start();
    session.FindMovieAtPoint({port}, point);
    (void)QTest::qWaitFor([&] { return took.has_value(); }, 5000);
    QObject::disconnect(heard);
    return took.value_or(5000);
}

void measureBar(DrivenBrowser& browser, const QString& page)
{
    browser.load(page);
    DevToolsSession session;
    std::vector<double> devTools;
    const auto barCount = [&] {
        return browser.evaluate(QStringLiteral("__bar.times.length")).toInt();
    };
    // The bar is up once the program's state reached the page: the first move may precede it.
    const bool up = QTest::qWaitFor(
        [&] {
            browser.moveOff();
            browser.mouse("mouseMoved", movieCorner(0) + QPoint(70, 70));
            return barCount() > 0;
        },
        30000);
    if (!up) {
        std::printf("  the bar never came up: skipped\n");
        return;
    }
    const int warm = barCount();
    for (int i = 0; i < 100; ++i) {
        const QPoint over = movieCorner(i % kMovies) + QPoint(70, 70 - i % 20);
        browser.moveOff(); // the background: the bar goes
        browser.mouse("mouseMoved", over);
        (void)QTest::qWaitFor([&] { return barCount() > warm + i; }, 5000);
        devTools.push_back(askDevTools(session, browser.port(), over));
    }
    std::vector<double> times;
    for (const QJsonValue& time :
         browser.evaluate(QStringLiteral("__bar.times.slice(%1)").arg(warm)).toArray())
        times.push_back(time.toDouble());
    std::printf("  pointer event to the bar painted, %zu moves: median %5.1f ms (target <= 50)\n",
                times.size(), median(times));
    std::printf("  the debugging-port bar's question on the same page: median %5.1f ms\n",
                median(devTools));
}

void measureChoices(DrivenBrowser& browser, Catalogue& catalogue, const TestServer& server)
{
    std::vector<double> times;
    for (int i = 0; i < kMovies; ++i) {
        const QPoint corner = movieCorner(i);
        const int before = browser.evaluate(QStringLiteral("__bar.times.length")).toInt();
        browser.moveOff();
        browser.mouse("mouseMoved", corner + QPoint(70, 70));
        if (!QTest::qWaitFor(
                [&] {
                    return browser.evaluate(QStringLiteral("__bar.times.length")).toInt() > before;
                },
                5000))
            continue;
        const QPoint button = corner + QPoint(15 + 30, 15 + 14);
        browser.mouse("mouseMoved", button);
        browser.mouse("mousePressed", button);
        browser.mouse("mouseReleased", button);
        browser.key("ArrowDown", 40);
        const QString url =
            QString::fromStdString(server.url("/movies/m" + std::to_string(i) + ".swf"));
        QElapsedTimer clock;
        clock.start();
        browser.key("Enter", 13);
        if (QTest::qWaitFor([&] { return catalogue.FindItemByUrl(url) >= 0; }, 5000))
            times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("  a choice (Enter) to the item in the catalogue, %zu of %d: median %5.1f ms "
                "(target <= 100)\n",
                times.size(), kMovies, median(times));
}

void measureLoad(DrivenBrowser& withCompanion, DrivenBrowser& without, const QString& page)
{
    std::vector<double> with;
    std::vector<double> peer;
    for (int i = 0; i < 65; ++i) {
        const QString url = page + QStringLiteral("?n=%1").arg(i);
        const double a = withCompanion.load(url);
        const double b = without.load(url);
        if (i >= 5) { // the first loads warm the caches
            with.push_back(a);
            peer.push_back(b);
        }
    }
    const double m = median(with);
    const double p = median(peer);
    std::printf("  a page of 1 000 elements, no movies, 60 loads each in turn: median %5.1f ms "
                "with the companion, %5.1f ms without: %+5.1f ms (target <= 2), %.2f x\n",
                m, p, m - p, p > 0 ? m / p : 0);
}

/// The memory of every process of the browser whose profile is `profile`, in MiB.
double browserMiB(const QString& profile)
{
    long kib = 0;
    for (const QString& process : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(process));
        if (!commandLine.open(QIODevice::ReadOnly) ||
            !commandLine.readAll().contains(profile.toUtf8()))
            continue;
        QFile status(QStringLiteral("/proc/%1/status").arg(process));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                kib += line.mid(6).trimmed().split(' ').first().toLong();
        }
    }
    return static_cast<double>(kib) / 1024;
}

/// Runs `work` until `done`, sampling the browser's memory: its growth over the start, in MiB.
double peakGrowth(const QString& profile, const std::function<bool()>& done)
{
    const double start = browserMiB(profile);
    double peak = start;
    (void)QTest::qWaitFor(
        [&] {
            peak = std::max(peak, browserMiB(profile));
            return done();
        },
        300000);
    return peak - start;
}

void measureCopy(DrivenBrowser& browser, CompanionLinks& links, const TestServer& server,
                 const QString& folder)
{
    const QString url = QString::fromStdString(server.url("/big.swf"));
    browser.load(QString::fromStdString(server.url("/big.html")));
    // Only a movie of the tab is copied: it is there once the companion lists it.
    QObject context;
    (void)QTest::qWaitFor(
        [&] {
            std::optional<QList<TabMovie>> movies;
            links.findTabMovies(&context, [&](const QList<TabMovie>& found) { movies = found; });
            (void)QTest::qWaitFor([&] { return movies.has_value(); }, 5000);
            return movies && !movies->isEmpty();
        },
        30000);
    std::optional<bool> saved;
    QElapsedTimer clock;
    clock.start();
    links.saveMovie(url, QDir(folder).filePath(QStringLiteral("big.swf")), &context,
                    [&](bool ok, const QString&) { saved = ok; });
    const double ours = peakGrowth(browser.profile.path(), [&] { return saved.has_value(); });
    const double took = static_cast<double>(clock.elapsed()) / 1000;
    // The peer: the same browser reading the same answer whole in the page.
    browser.evaluate(QStringLiteral("window.__whole = 0; fetch('%1').then(r => r.arrayBuffer())"
                                    ".then(b => { window.__whole = b.byteLength; })")
                         .arg(url));
    const double whole = peakGrowth(browser.profile.path(), [&] {
        return browser.evaluate(QStringLiteral("window.__whole")).toDouble() > 0;
    });
    std::printf("  the browser's copy of a 200 MiB movie, %s in %.1f s: the browser grew %.0f MiB; "
                "read whole in a page it grows %.0f MiB (%.2f x)\n",
                saved.value_or(false) ? "saved" : "NOT saved", took, ours, whole,
                whole > 0 ? ours / whole : 0);
}

} // namespace

void RunCompanionComparison()
{
    std::printf("\nThe browser companion (headless Chromium):\n");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (QStandardPaths::findExecutable(QStringLiteral("chromium")).isEmpty()) {
        std::printf("  chromium is not installed: skipped\n");
        return;
    }
    TestServer server;
    const std::string movies = moviesPage();
    const std::string plain = plainPage();
    server.server().Get("/movies.html", [&](const httplib::Request&, httplib::Response& reply) {
        reply.set_content(movies, "text/html");
    });
    server.server().Get("/plain.html", [&](const httplib::Request&, httplib::Response& reply) {
        reply.set_content(plain, "text/html");
    });
    const std::string big = "FWS" + std::string((200 << 20) - 3, '\x3f');
    server.server().Get("/big.swf", [&](const httplib::Request&, httplib::Response& reply) {
        reply.set_content(big, "application/x-shockwave-flash");
    });
    server.server().Get("/big.html", [](const httplib::Request&, httplib::Response& reply) {
        reply.set_content("<ruffle-embed src='big.swf'></ruffle-embed>", "text/html");
    });
    server.server().Get(R"(/movies/.*\.swf)",
                        [](const httplib::Request&, httplib::Response& reply) {
                            reply.set_content("FWS\x0a", 4, "application/x-shockwave-flash");
                        });
    server.start();

    // A returning user's Clip Vault with the companion's manifests written for this browser.
    QTemporaryDir home;
    QTemporaryDir data;
    ScriptedPrompt prompt;
    ScriptedDialogs dialogs;
    Vault app(data.path(), DefaultOptions(), prompt);
    app.LoadCatalogue();
    SingleInstance instance(data.path());
    if (!instance.acquire()) {
        std::printf("  the data folder's socket is taken: skipped\n");
        return;
    }
    CompanionLinks links;
    CompanionBars bars(app, dialogs, instance, links);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("CLIPVAULT_HOME"), data.path());
    const QStringList companion{QStringLiteral("--load-extension=") +
                                QStringLiteral(CLIPVAULT_BUILD_SHARE_DIR "/browser-extension")};
    DrivenBrowser browser(QStringList{QStringLiteral("--headless=new")} + companion, environment);
    QProcess connect;
    connect.setProcessEnvironment(environment);
    connect.start(QStringLiteral(CLIPVAULT_CLI),
                  {QStringLiteral("--data-dir"), data.path(), QStringLiteral("browser"),
                   QStringLiteral("connect"), QStringLiteral("--browser"),
                   QStringLiteral("chromium"), QStringLiteral("--profile"),
                   browser.profile.path()});
    connect.waitForFinished(60000);
    DrivenBrowser peer({QStringLiteral("--headless=new")}, environment);
    if (!browser.open() || !peer.open() ||
        !QTest::qWaitFor([&] { return links.isConnected(); }, 60000)) {
        std::printf("  the browsers or the companion never came up: skipped\n");
        return;
    }
    // The load first, while both browsers have done the same since they started.
    measureLoad(browser, peer, QString::fromStdString(server.url("/plain.html")));
    measureBar(browser, QString::fromStdString(server.url("/movies.html")));
    measureChoices(browser, app.catalogue(), server);
    measureCopy(browser, links, server, data.path());
}
