#include "htmlscan.h"

#include "urlresolve.h"

#include <gtest/gtest.h>

namespace {

QStringList movies(const QByteArray& page, const QString& address)
{
    ScanResultList list;
    ExtractFlashLinks(page, address, list);
    return list.toList();
}

QStringList frames(const QByteArray& page, const QString& address)
{
    return ExtractFrameLinks(page, address).toList();
}

QString movieFor(const char* address, const char* reference)
{
    const QStringList found =
        movies(QByteArray("<embed src=\"") + reference + ".swf\">", QString::fromLatin1(address));
    return found.value(0);
}

QString frameFor(const char* address, const char* reference)
{
    return frames(QByteArray("<iframe src=\"") + reference + "\">", QString::fromLatin1(address))
        .value(0);
}

} // namespace

TEST(HtmlScan, RelativeMovieReferencesResolveAgainstThePage)
{
    EXPECT_EQ(movieFor("http://host/dir/page.html?id=3", "intro"),
              QStringLiteral("http://host/dir/intro.swf"));
    EXPECT_EQ(movieFor("http://host", "intro"), QStringLiteral("http://host/intro.swf"));
    EXPECT_EQ(movieFor("http://host/", "intro"), QStringLiteral("http://host/intro.swf"));
    EXPECT_EQ(movieFor("http://host/a/p.html", "/m"), QStringLiteral("http://host/m.swf"));
    EXPECT_EQ(movieFor("http://host/a/p.html", "../m"), QStringLiteral("http://host/m.swf"));
    EXPECT_EQ(movieFor("http://host/a/b/p.html", "./x/../m"),
              QStringLiteral("http://host/a/b/m.swf"));
    EXPECT_EQ(movieFor("host", "m"), QStringLiteral("http://host/m.swf"));
    EXPECT_EQ(movieFor("host/p.html", "m"), QStringLiteral("http://host/m.swf"));
    EXPECT_EQ(movieFor("host/d/p.html", "m"), QStringLiteral("http://host/d/m.swf"));
    EXPECT_EQ(movieFor("any", "http://other/x"), QStringLiteral("http://other/x.swf"));
    EXPECT_EQ(movieFor("https://secure/a/p.html", "//cdn/m"), QStringLiteral("https://cdn/m.swf"));
    EXPECT_EQ(movieFor("https://secure/a/p.html", "m"), QStringLiteral("https://secure/a/m.swf"));
    EXPECT_EQ(movieFor("http://host/p.html", "www.other.com/m"),
              QStringLiteral("http://www.other.com/m.swf"));
    EXPECT_EQ(movieFor("http://host/p.html", "movies/www/m"),
              QStringLiteral("http://host/movies/www/m.swf"))
        << "a www inside a path no longer makes it absolute";
}

TEST(HtmlScan, RelativeFrameReferencesResolveAgainstThePage)
{
    EXPECT_EQ(frameFor("http://host/dir/page.html", "frame.html"),
              QStringLiteral("http://host/dir/frame.html"));
    EXPECT_EQ(frameFor("http://host", "f.html"), QStringLiteral("http://host/f.html"));
    EXPECT_EQ(frameFor("host", "f.html"), QStringLiteral("http://host/f.html"));
    EXPECT_EQ(frameFor("host/d/p.html", "f.html"), QStringLiteral("http://host/d/f.html"));
    EXPECT_EQ(frameFor("http://host/d/p.html", "HTTPS://Other/Page.html"),
              QStringLiteral("HTTPS://Other/Page.html"));
}

TEST(HtmlScan, TheWorkedExample)
{
    const QByteArray page = "<param name=\"movie\" value=\"intro.swf\">\r\n"
                            "<embed src=\"Intro.SWF  \">\r\n"
                            "<a href='http://other/x.swf'>x</a>";
    EXPECT_EQ(movies(page, QStringLiteral("http://host/dir/page.html?id=3")),
              (QStringList{"http://host/dir/intro.swf", "http://other/x.swf"}));
}

TEST(HtmlScan, AddressesKeepTheCaseTheyWereWrittenIn)
{
    EXPECT_EQ(movies("<EMBED SRC='Movies/Intro.SWF'>", QStringLiteral("http://Host/Dir/p.html")),
              QStringList{"http://Host/Dir/Movies/Intro.SWF"});
}

TEST(HtmlScan, OnlyQuotedReferencesAreFound)
{
    EXPECT_EQ(movies("<embed src=a.swf> <embed src='c.swf'>", QStringLiteral("http://h/")),
              QStringList{"http://h/c.swf"});
    EXPECT_TRUE(movies("ends with movie.swf", QStringLiteral("http://h/")).isEmpty());
    EXPECT_TRUE(movies("ends with 'movie.swf   ", QStringLiteral("http://h/")).isEmpty());
}

TEST(HtmlScan, AReferenceIsOnlyTheQuotedValueItsMarkerStandsIn)
{
    // A marker in the page's text, or in a value whose quotes do not match, names nothing.
    const struct
    {
        const char* page;
        QStringList found;
    } cases[] = {
        {"'a.swf'b.swf\"", {"http://h/a.swf"}},
        {"x/first.swf'", {}},
        {"<link href=\"http://h/site/\"><title>Player with query</title></head><body>\r\n"
         "<h1>player.swf?file=x</h1><embed src=\"real.swf\">",
         {"http://h/real.swf"}},
        {"<embed src='w.swf\"> <embed src=\"ok.swf\">", {"http://h/ok.swf"}},
        {"<p>see movie.swf \"quoted\"</p>", {}},
        {"document.write('<embed src=\"' + dir + 'movie.swf\">');", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(movies(c.page, QStringLiteral("http://h/")), c.found) << c.page;
}

TEST(HtmlScan, AMoviePageIsItsOwnOnlyResult)
{
    EXPECT_EQ(movies("<embed src='other.swf'>", QStringLiteral("http://h/play/movie.swf?level=2")),
              QStringList{"http://h/play/movie.swf?level=2"});
    EXPECT_EQ(movies("<embed src='other.swf'>", QStringLiteral("http://h/Movie.SWF")),
              QStringList{"http://h/Movie.SWF"});
}

TEST(HtmlScan, AReferenceWithAQueryOrAFragmentIsFoundWithoutThem)
{
    const struct
    {
        const char* page;
        QStringList found;
    } cases[] = {
        {"<embed src=\"m.swf?v=2\">", {"http://h/d/m.swf"}},
        {"<param name=\"movie\" value=\"player.swf?file=intro.flv\">", {"http://h/d/player.swf"}},
        {"<object data=\"g.swf#top\">", {"http://h/d/g.swf"}},
        {"<embed src=\"m.swf ?v=2\">", {"http://h/d/m.swf"}},
        {"so.write('http://cdn/x/Moxie.swf?uid=0&target=x');", {"http://cdn/x/Moxie.swf"}},
        {"'player.swf?file=x.swf'", {"http://h/d/player.swf"}},
        {"'a.swf?v=1' 'A.SWF?v=2' 'b.swf'", {"http://h/d/a.swf", "http://h/d/b.swf"}},
        {"<embed src=m.swf?v=2> no quote after it", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(movies(c.page, QStringLiteral("http://h/d/page.html")), c.found) << c.page;
}

TEST(HtmlScan, AnAddressIsAMovieOnlyWhenItsPathEndsInSwf)
{
    const struct
    {
        const char* address;
        bool movie;
    } cases[] = {
        {"http://h/a/movie.swf", true},
        {"http://h/play.swf?x=1", true},
        {"http://h/Movie.SWF", true},
        {"h/m.swf#top", true},
        {"http://h/swf/", false},
        {"http://h/swf/index.html", false},
        {"http://h/myswf/", false},
        {"http://swf.example.com/page.html", false},
        {"http://h/page.html?from=swf", false},
        {"http://h/page.html?m=a.swf", false},
        {"http://x.swf", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsMovieAddress(QString::fromLatin1(c.address)), c.movie) << c.address;
    EXPECT_EQ(movies("<embed src='m.swf'>", QStringLiteral("http://h/swf/index.html")),
              QStringList{"http://h/swf/m.swf"})
        << "a page in a folder named swf is read for its movies";
}

TEST(HtmlScan, RepeatsAreDroppedAndTheOrderIsTheScannersOwn)
{
    EXPECT_EQ(movies("'c.swf' 'a.swf' 'b.swf'", QStringLiteral("http://h/")),
              (QStringList{"http://h/a.swf", "http://h/c.swf", "http://h/b.swf"}));
    EXPECT_EQ(movies("'c.swf' 'a.swf' 'b.swf' 'C.SWF'", QStringLiteral("http://h/")),
              (QStringList{"http://h/a.swf", "http://h/b.swf", "http://h/c.swf"}))
        << "a repeat looked up after the last addition leaves the whole list sorted";

    ScanResultList list;
    EXPECT_TRUE(list.offer(QStringLiteral("http://h/Z.swf")));
    EXPECT_FALSE(list.offer(QStringLiteral("HTTP://H/z.SWF")));
    EXPECT_EQ(list.toList(), QStringList{"http://h/Z.swf"}) << "the first one found stays";

    // Sorted as it fills or only when read, with keys of one byte a character or not.
    for (const bool wide : {false, true}) {
        for (const bool sortedAsItFills : {false, true}) {
            ScanResultList parts;
            QStringList offers{"http://h/b.swf", QStringLiteral("http://h/\u00c9.swf"),
                               "http://h/a.swf", "http://h/B.SWF", "http://h/c.swf"};
            if (wide)
                offers.insert(2, QStringLiteral("http://h/\u017e.swf"));
            for (const QString& offer : offers) {
                parts.offer(offer);
                if (sortedAsItFills)
                    parts.sortSoFar();
            }
            QStringList expected{"http://h/a.swf", "http://h/b.swf",
                                 QStringLiteral("http://h/\u00c9.swf"), "http://h/c.swf"};
            if (wide)
                expected.insert(3, QStringLiteral("http://h/\u017e.swf"));
            EXPECT_EQ(parts.toList(), expected) << wide << sortedAsItFills;
        }
    }
}

TEST(HtmlScan, FramesFollowTheIframeRules)
{
    const QByteArray page =
        "<IFRAME name=a SRC = \r\n\"one.html \">\n"
        "<iframe width=3><img src='pic.png'>\n" // no src in the iframe: the image's
        "<iframe src=two.html>\n"               // unquoted
        "<iframe src=\"\">\n"                   // empty: nothing
        "<iframe src='three.html'>";
    EXPECT_EQ(frames(page, QStringLiteral("http://h/d/p.html")),
              (QStringList{"http://h/d/one.html", "http://h/d/pic.png", "http://h/d/two.html",
                           "http://h/d/three.html"}));
    EXPECT_TRUE(frames("<p>no frames</p>", QStringLiteral("http://h/")).isEmpty());
    EXPECT_TRUE(frames("<iframe width=1>", QStringLiteral("http://h/")).isEmpty());
    EXPECT_TRUE(frames("<iframe src='never closed", QStringLiteral("http://h/")).isEmpty());
}

TEST(HtmlScan, PathologicalPagesStayLinear)
{
    // ".swf" followed by long runs of blanks, many times over: each blank is looked at once.
    QByteArray page;
    const QByteArray unit = ".swf" + QByteArray(4000, ' ');
    for (int i = 0; i < 250; ++i)
        page += unit;
    EXPECT_TRUE(movies(page, QStringLiteral("http://h/")).isEmpty());
    // Many markers in one stretch without any quote.
    EXPECT_TRUE(movies(QByteArray(200000, 'x').replace("xxxx", ".swf"), QStringLiteral("http://h/"))
                    .isEmpty());
}

TEST(HtmlScan, AMarkerIsFoundAtEveryPlaceOfThePageInEitherCase)
{
    // The scan reads the page sixteen bytes at a time: a marker across a block's edge or in the
    // last bytes of the page counts as any other. A near-miss (".swe", "swf" without its dot, or
    // after a byte that reads as a dot once folded as letters are) does not.
    for (int length = 8; length <= 48; ++length) {
        for (int at = 0; at + 7 <= length; ++at) {
            QByteArray page(length, 'x');
            page.replace(at, 7, "'m.SwF'");
            EXPECT_EQ(movies(page, QStringLiteral("http://h/")),
                      QStringList{QStringLiteral("http://h/m.SwF")})
                << "length " << length << ", marker at " << at;
            for (const char* nearMiss : {"'m.swe'", "'mxswf'", "'m\x0eswf'"}) {
                page = QByteArray(length, 'x').replace(at, 7, nearMiss);
                EXPECT_TRUE(movies(page, QStringLiteral("http://h/")).isEmpty()) << nearMiss;
            }
        }
    }
}

TEST(UrlResolve, FollowsRfc3986)
{
    const QString base = QStringLiteral("http://a/b/c/d;p?q");
    EXPECT_EQ(ResolveReference(base, QStringLiteral("g")), QStringLiteral("http://a/b/c/g"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("./g")), QStringLiteral("http://a/b/c/g"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("g/")), QStringLiteral("http://a/b/c/g/"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("/g")), QStringLiteral("http://a/g"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("//g")), QStringLiteral("http://g"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("g?y")), QStringLiteral("http://a/b/c/g?y"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("../g")), QStringLiteral("http://a/b/g"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("../..")), QStringLiteral("http://a/"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("../../../g")), QStringLiteral("http://a/g"));
    EXPECT_EQ(ResolveReference(base, QStringLiteral("g;x=1/../y")),
              QStringLiteral("http://a/b/c/y"));
}
