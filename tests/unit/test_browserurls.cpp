#include "browserurls.h"

#include <gtest/gtest.h>

#include <QSizeF>

TEST(BrowserUrls, PageBaseIsTheFolderOfThePage)
{
    EXPECT_EQ(GetPageBaseUrl(QStringLiteral("http://host")), QStringLiteral("http://host/"));
    EXPECT_EQ(GetPageBaseUrl(QStringLiteral("https://host")), QStringLiteral("https://host/"));
    EXPECT_EQ(GetPageBaseUrl(QStringLiteral("http://host/dir/page.html?next=/a/b")),
              QStringLiteral("http://host/dir/"))
        << "the query is cut before the last / is sought";
    EXPECT_EQ(GetPageBaseUrl(QStringLiteral("http://host?x=1")), QStringLiteral("http://host/"));
    EXPECT_EQ(GetPageBaseUrl(QStringLiteral("about:blank")), QStringLiteral("about:blank"));
    EXPECT_EQ(GetPageBaseUrl(QString()), QString());
    EXPECT_EQ(GetPageBaseUrl(QStringLiteral("C:\\pages\\movie.html")),
              QStringLiteral("C:\\pages\\movie.html/"));
    EXPECT_EQ(GetPageBaseUrl(QStringLiteral("host/dir/p.html")), QStringLiteral("host/dir/"));
}

TEST(BrowserUrls, SiteRootKeepsThePagesScheme)
{
    EXPECT_EQ(GetSiteRootUrl(QStringLiteral("http://host/dir/page.html")),
              QStringLiteral("http://host/"));
    EXPECT_EQ(GetSiteRootUrl(QStringLiteral("https://host/dir/page.html")),
              QStringLiteral("https://host/"));
    EXPECT_EQ(GetSiteRootUrl(QStringLiteral("host/dir/page.html")), QStringLiteral("http://host/"));
    EXPECT_EQ(GetSiteRootUrl(QStringLiteral(" http://host:8080")),
              QStringLiteral("http://host:8080/"));
}

TEST(ViewportGeometry, ConvertsBetweenScreenAndPageWithZoomAndScale)
{
    // A window at (100, 50), 1000 × 800 outside, its page 990 × 700 inside at 100 % zoom.
    const auto plain =
        ViewportGeometry::fromWindowMetrics({100, 50}, {1000, 800}, {990, 700}, 1, 1);
    EXPECT_EQ(plain.originDip, QPointF(105, 150));
    EXPECT_EQ(plain.screenToCss({305, 250}), QPointF(200, 100));
    EXPECT_EQ(plain.cssToScreen(QRectF(200, 100, 40, 30)), QRectF(305, 250, 40, 30));

    // The page zoomed to 150 % on a screen of scale 2: CSS 1 px is 3 device pixels.
    const auto zoomed =
        ViewportGeometry::fromWindowMetrics({100, 50}, {1000, 800}, {660, 400}, 3, 1.5);
    EXPECT_DOUBLE_EQ(zoomed.deviceScale, 2);
    EXPECT_EQ(zoomed.originDip, QPointF(105, 250));
    const QPointF screen(2 * 105 + 3 * 10, 2 * 250 + 3 * 20);
    EXPECT_EQ(zoomed.screenToCss(screen), QPointF(10, 20));
    const QRectF onScreen = zoomed.cssToScreen(QRectF(10, 20, 100, 50));
    EXPECT_EQ(onScreen, QRectF(screen, QSizeF(300, 150)));
    EXPECT_EQ(zoomed.screenToCss(onScreen.bottomRight()), QPointF(110, 70))
        << "the two directions agree";
}

TEST(ShortcutBarAddress, AbsoluteRelativeAndSiteRelativeMovieAddresses)
{
    const QString base =
        GetPageBaseUrl(QStringLiteral("https://games.example/arcade/play.html?id=7"));
    ASSERT_EQ(base, QStringLiteral("https://games.example/arcade/"));
    // Written absolute, in any letter case: kept exactly as written.
    for (const char* absolute : {"http://cdn.example/m.swf", "HTTP://CDN.example/M.swf",
                                 "https://cdn.example/m.swf", "HtTpS://cdn.example/m.swf"})
        EXPECT_EQ(AbsoluteMovieAddress(QLatin1String(absolute), base), QLatin1String(absolute));
    EXPECT_EQ(AbsoluteMovieAddress(QStringLiteral("movies/run.swf"), base),
              QStringLiteral("https://games.example/arcade/movies/run.swf"));
    // The site root keeps the page's scheme; saving twice gives the same address.
    const QString site = AbsoluteMovieAddress(QStringLiteral("/swf/run.swf"), base);
    EXPECT_EQ(site, QStringLiteral("https://games.example/swf/run.swf"));
    EXPECT_EQ(AbsoluteMovieAddress(QStringLiteral("/swf/run.swf"), base), site);
    // Another host, without a scheme: the page's.
    EXPECT_EQ(AbsoluteMovieAddress(QStringLiteral("//cdn.example/m.swf"), base),
              QStringLiteral("https://cdn.example/m.swf"));
    // "httpfoo.swf" names a file next to the page, not a scheme.
    EXPECT_EQ(AbsoluteMovieAddress(QStringLiteral("httpfoo.swf"), base),
              QStringLiteral("https://games.example/arcade/httpfoo.swf"));
    // Dot segments are resolved, as detection resolves them: one movie, one address.
    EXPECT_EQ(AbsoluteMovieAddress(QStringLiteral("../Intro.SWF"), base),
              QStringLiteral("https://games.example/Intro.SWF"));
    EXPECT_EQ(AbsoluteMovieAddress(QStringLiteral("./m/../run.swf"), base),
              QStringLiteral("https://games.example/arcade/run.swf"));
}
