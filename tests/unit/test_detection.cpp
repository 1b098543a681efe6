// Web detection against local servers: frames, loops, redirects, failures.

#include "cachepass.h"
#include "clicommands.h"
#include "pagedetection.h"
#include "testserver.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <mutex>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

/// A site of pages served from a table; every request is recorded.
class DetectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.server().Get(".*",
                            [this](const httplib::Request& request, httplib::Response& response) {
                                std::lock_guard lock(mutex);
                                requested << QString::fromStdString(request.path);
                                const auto page = pages.find(QString::fromStdString(request.path));
                                if (page == pages.end()) {
                                    response.status = 404;
                                    response.set_content("<html>gone</html>", "text/html");
                                    return;
                                }
                                if (page->startsWith(u'>'))
                                    response.set_redirect(page->mid(1).toStdString());
                                else
                                    response.set_content(page->toStdString(), "text/html");
                            });
        server.start();
    }

    QString url(const char* path) const { return QString::fromStdString(server.url(path)); }

    /// Runs a detection from `path` and returns the movies found, level after level.
    QStringList detect(const QString& address, QString* error = nullptr)
    {
        QStringList found;
        const QString failure =
            detection.run(address, [&](const QStringList& movies) { found << movies; });
        if (error)
            *error = failure;
        return found;
    }

    QHash<QString, QString> pages;
    QStringList requested;
    std::mutex mutex;
    TestServer server;
    std::atomic<bool> cancelled{false};
    PageDetection detection{[this](const QString& page) { return FetchPage(page, cancelled); },
                            cancelled};
};

} // namespace

TEST_F(DetectionTest, FramesAreFollowedLevelByLevelEachPageOnItsOwnAddressAndOnce)
{
    pages["/index.html"] = "<embed src=\"a.swf\">\n<iframe src=\"frames/one.html\"></iframe>";
    // A frame page in another folder: its references resolve on its own address.
    pages["/frames/one.html"] =
        "<embed src='b.swf'><iframe src=\"../index.html\"></iframe><iframe src='two.html'>";
    pages["/frames/two.html"] = "<object data=\"/top/c.swf\"></object><iframe src=\"one.html\">";
    QString error;
    const QStringList movies = detect(url("/index.html"), &error);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    EXPECT_EQ(movies, (QStringList{url("/a.swf"), url("/frames/b.swf"), url("/top/c.swf")}));
    EXPECT_EQ(requested, (QStringList{"/index.html", "/frames/one.html", "/frames/two.html"}))
        << "the loop back to the first page fetches nothing twice";
}

TEST_F(DetectionTest, ARedirectedPageResolvesOnItsFinalAddress)
{
    pages["/go"] = ">/deep/page.html";
    pages["/deep/page.html"] = "<embed src=\"m.swf\">";
    EXPECT_EQ(detect(url("/go")), QStringList{url("/deep/m.swf")});
}

TEST_F(DetectionTest, FailuresEndTheDetectionWithTheirReasonKeepingWhatWasFound)
{
    pages["/index.html"] = "<embed src=\"a.swf\"><iframe src=\"missing.html\">";
    QString error;
    EXPECT_EQ(detect(url("/index.html"), &error), QStringList{url("/a.swf")});
    EXPECT_EQ(error, QStringLiteral("Not Found"));

    EXPECT_TRUE(detect(QStringLiteral("http://no-such-host.invalid/"), &error).isEmpty());
    EXPECT_EQ(error, QStringLiteral("can't resolve hostname to IP address"));

    // A port nobody listens on: bound and closed again.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(probe);
    const quint16 port = ntohs(address.sin_port);
    detect(QStringLiteral("http://127.0.0.1:%1/").arg(port), &error);
    EXPECT_TRUE(error.startsWith(QStringLiteral("can't connect: ")) &&
                error.endsWith(QStringLiteral(" (Error #111)")))
        << qPrintable(error);
}

TEST_F(DetectionTest, TheLevelsAndPagesOfOneDetectionAreLimited)
{
    // A chain of frames deeper than the detection goes.
    for (int i = 0; i < 12; ++i)
        pages[QStringLiteral("/p%1.html").arg(i)] =
            QStringLiteral("<embed src='m%1.swf'><iframe src='p%2.html'>").arg(i).arg(i + 1);
    EXPECT_EQ(detect(url("/p0.html")).size(), PageDetection::kMaxLevels);
    EXPECT_EQ(detection.pagesFetched(), PageDetection::kMaxLevels);
}

TEST_F(DetectionTest, APageBodyIsReadUpToSixteenMebibytes)
{
    // One movie near the start, one past the limit.
    QString huge = QStringLiteral("<embed src='near.swf'>");
    huge += QString(int(kMaxPageBody), u' ');
    huge += QStringLiteral("<embed src='far.swf'>");
    pages["/huge.html"] = huge;
    QString error;
    EXPECT_EQ(detect(url("/huge.html"), &error), QStringList{url("/near.swf")});
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
}

TEST(DetectionRules, MovieAddressesDrivePathsAndTheCacheHost)
{
    EXPECT_TRUE(IsMovieAddress(QStringLiteral("http://h/a/movie.swf")));
    EXPECT_TRUE(IsMovieAddress(QStringLiteral("http://h/play.swf?x=1")));
    EXPECT_FALSE(IsMovieAddress(QStringLiteral("http://h/movie.SWF")));
    EXPECT_FALSE(IsMovieAddress(QStringLiteral("http://h/index.html")));
    EXPECT_TRUE(IsDrivePath(QStringLiteral("C:\\movies")));
    EXPECT_FALSE(IsDrivePath(QStringLiteral("http://h/")));
    EXPECT_EQ(CacheHostOf(QStringLiteral("https://site.example/page")),
              QStringLiteral("site.example"));
    EXPECT_EQ(CacheHostOf(QStringLiteral("nosuchsite.example/go?to=http://127.0.0.1/")),
              QStringLiteral("nosuchsite.example"))
        << "a \"://\" in the query is no scheme";
    EXPECT_EQ(MemoText(QByteArray("a\rb\nc\r\nd\0hidden\ne", 17)),
              QByteArray("a\r\nb\r\nc\r\nd\r\ne"));
}

TEST_F(DetectionTest, TheCommandLinePrintsTheRowsAndFailsWithTheReason)
{
    pages["/index.html"] = "<embed src=\"a.swf\"><iframe src=\"f.html\">";
    pages["/f.html"] = "<embed src=\"b.swf\">";
    const auto run = [](const QStringList& arguments, QString& out, QString& err) {
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        const int code = RunCli(arguments, outStream, errStream);
        outStream.flush();
        errStream.flush();
        return code;
    };
    QString out;
    QString err;
    ASSERT_EQ(run({"detect", url("/index.html"), "--no-cache"}, out, err), 0) << qPrintable(err);
    EXPECT_EQ(out, url("/a.swf") + "\ta.swf\n" + url("/b.swf") + "\tb.swf\n");
    out.clear();
    ASSERT_EQ(run({"detect", url("/index.html"), "--no-cache", "--json"}, out, err), 0);
    const QJsonArray rows = QJsonDocument::fromJson(out.toUtf8()).array();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].toObject()[QStringLiteral("saveAs")].toString(), QStringLiteral("b.swf"));

    pages["/f.html"] = QString();
    pages.remove("/f.html");
    out.clear();
    EXPECT_EQ(run({"detect", url("/index.html"), "--no-cache"}, out, err), 1);
    EXPECT_EQ(out, url("/a.swf") + "\ta.swf\n") << "rows found before the failure are printed";
    EXPECT_TRUE(err.contains(QStringLiteral("Not Found")));

    out.clear();
    ASSERT_EQ(run({"detect", url("/direct.swf")}, out, err), 0);
    EXPECT_EQ(out, url("/direct.swf") + "\tdirect.swf\n") << "a movie typed directly is the row";
}
