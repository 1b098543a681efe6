// Real browser caches: Debian's headless Chromium (and Firefox ESR when installed) visit a page
// served here whose script fetches movies; the cache walk must then list and extract them.

#include "cacheenumerator.h"
#include "cachepass.h"

#include "testfiles.h"
#include "testserver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

class BrowserCacheTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        movies = {{"/red.swf", QByteArray("FWS\x0a red movie", 14)},
                  {"/big.swf", QByteArray(300000, 'b')},
                  {"/private.swf", QByteArray("FWS\x0a private", 12)}};
        server.server().Get("/index.html", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("<html><body><script>"
                                 "fetch('red.swf?v=3'); fetch('big.swf'); fetch('private.swf');"
                                 "</script></body></html>",
                                 "text/html");
        });
        for (const auto& [path, body] : movies) {
            server.server().Get(path, [path = path, body = body](const httplib::Request&, httplib::Response& response) {
                response.set_header("Cache-Control", path == "/private.swf" ? "no-store" : "max-age=3600");
                response.set_content(body.toStdString(), "application/x-shockwave-flash");
            });
        }
        server.start();
    }

    /// The cached movies below a folder, with their extracted bodies.
    std::map<QString, QByteArray> cachedMovies(const QString& folder)
    {
        std::map<QString, QByteArray> found;
        DetectionResults results;
        QTemporaryDir out;
        CacheEnumerator(CacheEnumerator::CachesBelow(folder)).EnumerateEntries([&](const CacheEntry& entry, bool&) {
            const auto before = results.rows().size();
            CachePassEntry(entry, QStringLiteral("127.0.0.1"), false, results);
            if (results.rows().size() == before)
                return;
            const QString target = QDir(out.path()).filePath(QString::number(before));
            EXPECT_TRUE(ExtractCachedBody(entry, target));
            found[results.rows().last().address] = readFile(target);
        });
        return found;
    }

    void expectTheServedMovies(const std::map<QString, QByteArray>& found)
    {
        const QString origin = QString::fromStdString(server.url(""));
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found.at(origin + QStringLiteral("/red.swf")), movies.at("/red.swf"));
        EXPECT_EQ(found.at(origin + QStringLiteral("/big.swf")), movies.at("/big.swf"));
        EXPECT_EQ(found.count(origin + QStringLiteral("/private.swf")), 0u) << "a no-store movie is never cached";
    }

    std::map<std::string, QByteArray> movies;
    TestServer server;
    QTemporaryDir profile;
};

} // namespace

TEST_F(BrowserCacheTest, ChromiumsCacheListsAndYieldsTheMovies)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed";
    QProcess browser;
    browser.start(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                             QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
                             QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
                             QStringLiteral("--disable-sync"), QStringLiteral("--user-data-dir=") + profile.path(),
                             QStringLiteral("--virtual-time-budget=3000"), QStringLiteral("--dump-dom"),
                             QString::fromStdString(server.url("/index.html"))});
    ASSERT_TRUE(browser.waitForFinished(60000));
    expectTheServedMovies(cachedMovies(profile.path()));
}

TEST_F(BrowserCacheTest, FirefoxsCacheListsAndYieldsTheMovies)
{
    const QString firefox = QStandardPaths::findExecutable(QStringLiteral("firefox-esr"));
    if (firefox.isEmpty())
        GTEST_SKIP() << "firefox-esr is not installed";
    QProcess browser;
    browser.start(firefox, {QStringLiteral("--headless"), QStringLiteral("--no-remote"), QStringLiteral("--profile"),
                            profile.path(), QStringLiteral("--screenshot"),
                            QDir(profile.path()).filePath(QStringLiteral("shot.png")),
                            QString::fromStdString(server.url("/index.html"))});
    ASSERT_TRUE(browser.waitForFinished(90000));
    expectTheServedMovies(cachedMovies(profile.path()));
}
