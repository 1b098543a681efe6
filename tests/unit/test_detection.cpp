// Web detection against local servers: frames, loops, redirects, failures.

#include "background.h"
#include "cachepass.h"
#include "clicommands.h"
#include "pagedetection.h"
#include "rawserver.h"
#include "testserver.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>
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
        server.server().Get(
            ".*", [this](const httplib::Request& request, httplib::Response& response) {
                std::lock_guard lock(mutex);
                requested << QString::fromStdString(request.path);
                if (const auto bytes = bytePages.find(request.path); bytes != bytePages.end()) {
                    response.set_content(bytes->second.first.toStdString(), bytes->second.second);
                    return;
                }
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
    /// Pages given as bytes, with their Content-Type.
    std::map<std::string, std::pair<QByteArray, std::string>> bytePages;
    QStringList requested;
    std::mutex mutex;
    TestServer server;
    std::atomic<bool> cancelled{false};
    PageDetection detection{[this](const QString& page, int deadlineMs) {
                                return FetchPage(page, cancelled, deadlineMs);
                            },
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

TEST(DetectionRules, DrivePathsAndTheCacheHost)
{
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

TEST_F(DetectionTest, OneDetectionHoldsAtMostItsRowsAndSaysSo)
{
    // Two frames, each naming far more distinct movies than one detection lists.
    const auto crowded = [](char tag) {
        QString page;
        for (int i = 0; i < 60000; ++i)
            page += QStringLiteral("'%1%2.swf'").arg(QLatin1Char(tag)).arg(i);
        return page;
    };
    pages["/index.html"] = "<iframe src='a.html'></iframe><iframe src='b.html'></iframe>"
                           "<iframe src='c.html'></iframe>";
    pages["/a.html"] = crowded('a');
    pages["/b.html"] = crowded('b');
    pages["/c.html"] = crowded('c');
    // Through the command line, which says so on its error stream.
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    EXPECT_EQ(RunCli({"detect", url("/index.html"), "--no-cache"}, outStream, errStream), 0);
    outStream.flush();
    errStream.flush();
    EXPECT_EQ(out.count(u'\n'), 100000);
    EXPECT_TRUE(err.contains(QStringLiteral("stopped at 100000 movies"))) << qPrintable(err);
    EXPECT_FALSE(requested.contains(QStringLiteral("/c.html"))) << "nothing more is fetched";
}

TEST_F(DetectionTest, AnEndlessOrDrippingPageEndsByItsLimitAndItsDeadline)
{
    // Streamed for ever: read to 16 MiB, then the transfer is closed.
    RawServer endless(RawServer::endless(
        "HTTP/1.1 200 OK\r\nContent-Length: 100000000000\r\n\r\n<embed src='first.swf'>", ' '));
    const std::atomic<bool> never{false};
    const PageReply whole = FetchPage(endless.url("/"), never);
    ASSERT_TRUE(whole.ok) << qPrintable(whole.error);
    EXPECT_EQ(whole.body.size(), kMaxPageBody);

    // A byte a second: the page's deadline ends it, and so does the detection's own.
    RawServer dripping([](int socket, const std::string&, RawServer& self) {
        RawServer::send(socket, "HTTP/1.1 200 OK\r\n\r\n");
        for (int i = 0; i < 60 && RawServer::send(socket, " "); ++i) {
            if (!self.pause(std::chrono::seconds(1)))
                break;
        }
    });
    const PageReply dripped = FetchPage(dripping.url("/"), never, 1500);
    EXPECT_FALSE(dripped.ok);
    EXPECT_EQ(dripped.error, QStringLiteral("the page did not arrive within 2 seconds"));

    PageDetection hurried(
        [&](const QString& page, int deadlineMs) { return FetchPage(page, never, deadlineMs); },
        never, DetectionLimits{100000, qsizetype(256) << 20, 60000, 1500});
    EXPECT_EQ(hurried.run(dripping.url("/"), [](const QStringList&) {}),
              QStringLiteral("the page did not arrive within 2 seconds"))
        << "the page's deadline is what is left of the detection's";
}

TEST_F(DetectionTest, AnAddressWithoutASchemeIsFetchedOnce)
{
    pages["/index.html"] = "<embed src='a.swf'><iframe src='index.html'></iframe>";
    const QString address = url("/index.html").mid(7); // "127.0.0.1:port/index.html"
    EXPECT_EQ(detect(address), QStringList{url("/a.swf")});
    EXPECT_EQ(requested, QStringList{"/index.html"});
}

TEST_F(DetectionTest, ReferencesAreReadInThePagesEncodingAndRequestedAsABrowserWould)
{
    // A page in UTF-16, little-endian, with its byte-order mark.
    const auto utf16le = [](const QString& text) -> QByteArray {
        QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
        return encoder.encode(text);
    };
    struct Case
    {
        const char* path;
        QByteArray body;
        std::string contentType;
        QStringList movies; // relative to the server
    };
    const QList<Case> cases = {
        {"/plain.html",
         "'a\xff.swf' 'a\xfe.swf'",
         "text/html",
         {QStringLiteral("/a\u00ff.swf"), QStringLiteral("/a\u00fe.swf")}},
        {"/latin.html",
         "<embed src='caf\xe9.swf'><embed src='play?m=\xe9t\xe9.swf'>",
         "text/html; charset=ISO-8859-1",
         {QStringLiteral("/caf\u00e9.swf"), QStringLiteral("/play?m=%E9t%E9.swf")}},
        {"/meta.html",
         "<meta charset=\"shift_jis\"><embed src='\x83\x65.swf'>",
         "text/html",
         {QStringLiteral("/\u30c6.swf")}},
        {"/utf8.html",
         "<embed src='play?m=caf\xc3\xa9.swf'>",
         "text/html;charset=utf-8",
         {QStringLiteral("/play?m=caf\u00e9.swf")}},
        {"/bom.html",
         utf16le(QStringLiteral("<embed src='\u00e9.swf'>")),
         "text/html; charset=windows-1252",
         {QStringLiteral("/\u00e9.swf")}},
    };
    for (const Case& page : cases) {
        SCOPED_TRACE(page.path);
        bytePages[page.path] = {page.body, page.contentType};
        QStringList expected;
        for (const QString& movie : page.movies)
            expected << url("") + movie;
        QString error;
        EXPECT_EQ(detect(url(page.path), &error), expected) << qPrintable(error);
    }
}

TEST(Background, WorkAnswersOnlyALivingReceiverAndEveryTaskIsStoppedAndJoinedAtTheEnd)
{
    // A living receiver hears what the work posts, on its own thread, in order.
    QObject receiver;
    QStringList heard;
    std::atomic<bool> workedOffThread{false};
    Background::run(&receiver, [&](const BackgroundTask& task) {
        workedOffThread = QThread::currentThread() != qApp->thread();
        task.post([&] {
            heard << (QThread::currentThread() == qApp->thread() ? "first, on main" : "elsewhere");
        });
        task.post([&] { heard << "second"; });
    });
    EXPECT_TRUE(waitUntil([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard, QStringList({"first, on main", "second"}));
    EXPECT_TRUE(workedOffThread);

    // A receiver that goes stops its task, and hears nothing of it.
    std::atomic<bool> stoppedSeen{false};
    auto going = std::make_unique<QObject>();
    bool delivered = false;
    std::atomic<bool> started{false};
    Background::run(going.get(), [&](const BackgroundTask& task) {
        started = true;
        task.stopped().wait(false);
        stoppedSeen = true;
        task.post([&] { delivered = true; });
    });
    ASSERT_TRUE(waitUntil([&] { return started.load(); }));
    going.reset();
    EXPECT_TRUE(waitUntil([&] { return stoppedSeen.load(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(delivered);

    // The end of the program stops a task that runs until asked, and waits for it.
    std::atomic<bool> ended{false};
    const Background::Handle endless = Background::run(nullptr, [&](const BackgroundTask& task) {
        task.stopped().wait(false);
        ended = true;
    });
    Background::finish();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(endless.isRunning());
}
