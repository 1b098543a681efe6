// Real browser caches: Debian's headless Chromium (and Firefox ESR when installed) visit a page
// served here whose script fetches movies; the cache walk must then list and extract them.

#include "cacheenumerator.h"
#include "cachepass.h"

#include "testfiles.h"
#include "testserver.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>

namespace {

class BrowserCacheTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        movies = {{"/red.swf", QByteArray("FWS\x0a red movie", 14)},
                  {"/big.swf", QByteArray(300000, 'b')},
                  {"/private.swf", QByteArray("FWS\x0a private", 12)}};
        // The page reads every body whole before its load event (synchronous requests hold the
        // parser), then tells the server so: the browser ends only after all of them arrived.
        server.server().Get(
            "/index.html", [](const httplib::Request&, httplib::Response& response) {
                response.set_content(
                    "<html><body><script>"
                    "for (const u of ['red.swf?v=3', 'big.swf', 'private.swf', 'done']) {"
                    "  const r = new XMLHttpRequest(); r.open('GET', u, false); r.send();"
                    "}"
                    "</script></body></html>",
                    "text/html");
            });
        server.server().Get("/done", [this](const httplib::Request&, httplib::Response& response) {
            pageDone = true;
            response.set_content("done", "text/plain");
        });
        for (const auto& [path, body] : movies) {
            server.server().Get(path, [path = path, body = body](const httplib::Request&,
                                                                 httplib::Response& response) {
                response.set_header("Cache-Control",
                                    path == "/private.swf" ? "no-store" : "max-age=3600");
                response.set_content(body.toStdString(), "application/x-shockwave-flash");
            });
        }
        server.start();
    }

    /// The cached movies below a folder whose bodies can be extracted, with those bodies.
    std::map<QString, QByteArray> cachedMovies(const QString& folder)
    {
        std::map<QString, QByteArray> found;
        DetectionResults results;
        QTemporaryDir out;
        CacheEnumerator(CacheEnumerator::CachesBelow(folder))
            .EnumerateEntries([&](const CacheEntry& entry, bool&) {
                const auto before = results.rows().size();
                CachePassEntry(entry, QStringLiteral("127.0.0.1"), false, results);
                if (results.rows().size() == before)
                    return;
                const QString target = QDir(out.path()).filePath(QString::number(before));
                if (!ExtractCachedBody(entry, target))
                    return; // still being written
                found[results.rows().last().address] = readFile(target);
            });
        return found;
    }

    /// Runs the browser on the page until it ends by itself, then waits until the cache below
    /// its profile yields the two cacheable movies (a browser may still be writing as it ends).
    std::map<QString, QByteArray> visitAndReadCache(const QString& program,
                                                    const QStringList& arguments)
    {
        QProcess browser;
        browser.start(program, arguments);
        const bool ended = browser.waitForFinished(120000);
        const QString report = QStringLiteral("%1 exit code %2, stderr:\n%3")
                                   .arg(program)
                                   .arg(browser.exitCode())
                                   .arg(QString::fromLocal8Bit(browser.readAllStandardError()));
        EXPECT_TRUE(ended) << "the browser did not end; " << qPrintable(report);
        EXPECT_TRUE(pageDone) << "the page never read its movies; " << qPrintable(report);
        std::map<QString, QByteArray> found;
        const bool whole = waitUntil(
            [&] {
                found = cachedMovies(profile.path());
                return found.size() >= 2;
            },
            60000);
        EXPECT_TRUE(whole) << "the cache holds " << found.size() << " of the movies; "
                           << qPrintable(report);
        return found;
    }

    void expectTheServedMovies(const std::map<QString, QByteArray>& found)
    {
        const QString origin = QString::fromStdString(server.url(""));
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found.at(origin + QStringLiteral("/red.swf")), movies.at("/red.swf"));
        EXPECT_EQ(found.at(origin + QStringLiteral("/big.swf")), movies.at("/big.swf"));
        EXPECT_EQ(found.count(origin + QStringLiteral("/private.swf")), 0u)
            << "a no-store movie is never cached";
    }

    std::map<std::string, QByteArray> movies;
    std::atomic<bool> pageDone{false};
    TestServer server;
    QTemporaryDir profile;
};

} // namespace

TEST_F(BrowserCacheTest, ChromiumsCacheListsAndYieldsTheMovies)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    expectTheServedMovies(visitAndReadCache(
        chromium,
        {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
         QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
         QStringLiteral("--no-first-run"), QStringLiteral("--disable-background-networking"),
         QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
         QStringLiteral("--user-data-dir=") + profile.path(), QStringLiteral("--dump-dom"),
         QString::fromStdString(server.url("/index.html"))}));
}

TEST_F(BrowserCacheTest, FirefoxsCacheListsAndYieldsTheMovies)
{
    const QString firefox = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
    if (firefox.isEmpty())
        GTEST_SKIP() << "firefox-esr is not installed";
    expectTheServedMovies(visitAndReadCache(
        firefox, {QStringLiteral("--headless"), QStringLiteral("--no-remote"),
                  QStringLiteral("--profile"), profile.path(), QStringLiteral("--screenshot"),
                  QDir(profile.path()).filePath(QStringLiteral("shot.png")),
                  QString::fromStdString(server.url("/index.html"))}));
}
