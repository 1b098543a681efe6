#include "httpget.h"

#include "addresspolicy.h"
#include "fetch.h"
#include "pagefetch.h"
#include "proxysettings.h"
#include "replacingfile.h"
#include "webaddress.h"
#include "gzip.h"
#include "testfiles.h"
#include "rawserver.h"
#include "requesthead.h"
#include "testserver.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

QByteArray movieBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    return bytes;
}

class HttpGetTest : public ::testing::Test
{
protected:
    HttpGetTest()
    {
        get.BinaryData = true;
        get.WaitThread = true;
        get.FileName = target();
        server.server().Get(
            "/movie.swf", [this](const httplib::Request& request, httplib::Response& response) {
                lastRequest = request;
                response.set_content(movie.toStdString(), "application/x-shockwave-flash");
            });
    }

    QString target() const { return QDir(folder.path()).filePath(QStringLiteral("movie.swf")); }
    QString url(const char* path) const { return QString::fromStdString(server.url(path)); }
    bool noFilesBut(const QStringList& names) const
    {
        return QDir(folder.path()).entryList(QDir::Files) == names;
    }

    /// Runs one transfer of `path` and says whether it succeeded.
    bool fetch(const char* path)
    {
        server.start();
        return fetchUrl(url(path));
    }
    bool fetchUrl(const QString& address)
    {
        get.URL = address;
        QSignalSpy done(&get, &THTTPGet::OnDoneFile);
        QSignalSpy failed(&get, &THTTPGet::OnError);
        get.StartTransfer();
        EXPECT_EQ(done.count() + failed.count(), 1) << "exactly one event per transfer";
        if (done.count() == 1) {
            EXPECT_EQ(done[0][0].toString(), target());
            EXPECT_EQ(done[0][1].toLongLong(), QFileInfo(target()).size());
        }
        return done.count() == 1;
    }

    QTemporaryDir folder;
    TestServer server;
    THTTPGet get;
    QByteArray movie = movieBytes(3 * 1024 * 1024 + 17);
    httplib::Request lastRequest;
};

} // namespace

TEST_F(HttpGetTest, DownloadsTheWholeFileAndReportsProgress)
{
    QList<std::pair<qint64, qint64>> progress;
    QObject::connect(&get, &THTTPGet::OnProgress, [&](qint64 total, qint64 read) {
        progress.append({total, read});
    });
    ASSERT_TRUE(fetch("/movie.swf"));
    EXPECT_EQ(readFile(target()), movie);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last(), std::make_pair(qint64(movie.size()), qint64(movie.size())));
    for (const auto& [total, read] : progress)
        EXPECT_EQ(total, movie.size());
    EXPECT_TRUE(noFilesBut({QStringLiteral("movie.swf")})) << "no .part file is left";
    EXPECT_TRUE(get.errorString().isEmpty());
    EXPECT_FALSE(get.isBusy());
}

TEST_F(HttpGetTest, ABusyOwningThreadNeverHoldsTheTransfer)
{
    // A body that takes longer than a progress interval, read while this thread takes no events:
    // the transfer still ends, and the progress it left is delivered afterwards.
    server.server().Get("/slow.swf", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            movie.size(), "application/x-shockwave-flash",
            [this](size_t offset, size_t, httplib::DataSink& sink) {
                server.holdWhileStalling(offset == 0 ? 0ms : 50ms); // a slow server
                const qsizetype n =
                    std::min<qsizetype>(512 * 1024, movie.size() - qsizetype(offset));
                return sink.write(movie.constData() + offset, static_cast<size_t>(n));
            });
    });
    server.start();
    QList<qint64> progress;
    QObject::connect(&get, &THTTPGet::OnProgress,
                     [&](qint64, qint64 read) { progress.append(read); });
    get.URL = url("/slow.swf");
    get.WaitThread = false; // the caller goes on at once, and takes no events below
    get.StartTransfer();
    // Polled as QTRY_VERIFY polls, with a generous deadline, but without taking events: this
    // thread is the busy one.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!QFile::exists(target()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(QFile::exists(target())) << "the transfer waited for this thread";
    EXPECT_TRUE(waitUntil([&] { return !get.isBusy(); }));
    EXPECT_EQ(readFile(target()), movie);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last(), movie.size());
}

TEST_F(HttpGetTest, SendsTheRequestTheComponentDescribes)
{
    // The server asks for credentials, as a protected site does; the component answers.
    server.server().Post("/form.swf",
                         [this](const httplib::Request& request, httplib::Response& response) {
                             if (!request.has_header("Authorization")) {
                                 response.status = 401;
                                 response.set_header("WWW-Authenticate", "Basic realm=\"movies\"");
                                 return;
                             }
                             lastRequest = request;
                             response.set_content("posted", "text/plain");
                         });
    get.PostQuery = QStringLiteral("a=1&b=two");
    get.Referer = QStringLiteral("http://pages.example/with-movie.html");
    get.AcceptTypes = QStringLiteral("application/x-shockwave-flash");
    get.UserName = QStringLiteral("user");
    get.Password = QStringLiteral("secret");
    get.UseCache = false;
    ASSERT_TRUE(fetch("/form.swf"));
    EXPECT_EQ(lastRequest.method, "POST");
    EXPECT_EQ(lastRequest.version, "HTTP/1.0");
    EXPECT_EQ(lastRequest.body, "a=1&b=two");
    EXPECT_EQ(lastRequest.get_header_value("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(lastRequest.get_header_value("Referer"), "http://pages.example/with-movie.html");
    EXPECT_EQ(lastRequest.get_header_value("Accept"), "application/x-shockwave-flash");
    EXPECT_EQ(lastRequest.get_header_value("User-Agent"), THTTPGet::DefaultAgent().toStdString());
    EXPECT_EQ(lastRequest.get_header_value("Cache-Control"), "no-cache");
    EXPECT_EQ(lastRequest.get_header_value("Authorization"), "Basic dXNlcjpzZWNyZXQ=");
    EXPECT_EQ(readFile(target()), QByteArray("posted"));
}

TEST_F(HttpGetTest, AGetWithTheCacheAllowedAsksForNothingFresh)
{
    get.UseCache = true;
    ASSERT_TRUE(fetch("/movie.swf"));
    EXPECT_EQ(lastRequest.method, "GET");
    EXPECT_FALSE(lastRequest.has_header("Cache-Control"));
    EXPECT_FALSE(lastRequest.has_header("Authorization"));
}

TEST_F(HttpGetTest, WithoutAContentLengthABinaryTransferFailsAndCreatesNothing)
{
    server.server().Get("/chunked.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/x-shockwave-flash",
                                              [](size_t, httplib::DataSink& sink) {
                                                  sink.write("FWS", 3);
                                                  sink.done();
                                                  return true;
                                              });
    });
    EXPECT_FALSE(fetch("/chunked.swf"));
    EXPECT_TRUE(noFilesBut({}));
    EXPECT_TRUE(get.errorString().contains(QStringLiteral("size")));
}

TEST_F(HttpGetTest, AnErrorPageIsNeverStoredAndAnOlderFileIsKept)
{
    ASSERT_TRUE(writeFile(target(), "the good old movie"));
    server.server().Get("/gone.swf", [](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content("<html>Not Found</html>", "text/html");
    });
    EXPECT_FALSE(fetch("/gone.swf"));
    EXPECT_EQ(readFile(target()), QByteArray("the good old movie"));
    EXPECT_TRUE(noFilesBut({QStringLiteral("movie.swf")}));
    EXPECT_TRUE(get.errorString().contains(QStringLiteral("404")));
}

TEST_F(HttpGetTest, ABodyShorterThanAnnouncedLeavesNoPartAndKeepsTheOlderFile)
{
    ASSERT_TRUE(writeFile(target(), "the good old movie"));
    server.server().Get("/short.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(10000, "application/x-shockwave-flash",
                                      [](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset > 0)
                                              return false; // the connection drops
                                          std::string half(5000, 'x');
                                          sink.write(half.data(), half.size());
                                          return true;
                                      });
    });
    EXPECT_FALSE(fetch("/short.swf"));
    EXPECT_EQ(readFile(target()), QByteArray("the good old movie"));
    EXPECT_TRUE(noFilesBut({QStringLiteral("movie.swf")}));
}

TEST_F(HttpGetTest, ABodyThatIsNoFlashMovieFailsAFlashOnlyTransferAndReplacesNothing)
{
    get.FlashMovieOnly = true;
    ASSERT_TRUE(writeFile(target(), "FWS the good old movie"));
    server.server().Get("/page.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html>Sorry, moved</html>", "text/html");
    });
    server.server().Get("/empty.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Length", "0");
        response.status = 200;
    });
    server.server().Get("/two.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("CW", "application/x-shockwave-flash");
    });
    for (const char* path : {"/page.swf", "/empty.swf", "/two.swf"}) {
        EXPECT_FALSE(fetch(path)) << path;
        EXPECT_EQ(get.errorString(), QStringLiteral("not a Flash movie")) << path;
        EXPECT_EQ(readFile(target()), QByteArray("FWS the good old movie")) << path;
        EXPECT_TRUE(noFilesBut({QStringLiteral("movie.swf")})) << path;
    }
    movie = "CWS" + movieBytes(1000);
    EXPECT_TRUE(fetch("/movie.swf")) << "a compressed movie is a movie";
    EXPECT_EQ(readFile(target()), movie);
}

TEST_F(HttpGetTest, AddressesAreEncodedAsABrowserWouldBeforeTheRequest)
{
    QStringList paths;
    server.server().Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
        paths << QString::fromStdString(request.target);
        response.set_content(movie.toStdString(), "application/x-shockwave-flash");
    });
    server.start();
    for (const char* path : {"/My Movie.swf", "/été/ß.swf?q=a b", "/kept%20as%20is.swf"}) {
        get.URL = url("/") + QString::fromUtf8(path).mid(1);
        QSignalSpy done(&get, &THTTPGet::OnDoneFile);
        get.StartTransfer();
        EXPECT_EQ(done.count(), 1) << path << " " << get.errorString().toStdString();
    }
    EXPECT_EQ(paths, (QStringList{"/My%20Movie.swf", "/%C3%A9t%C3%A9/%C3%9F.swf?q=a%20b",
                                  "/kept%20as%20is.swf"}));
    EXPECT_EQ(TransferUrl(QStringLiteral("http://bücher.example/a.swf")),
              QByteArray("http://xn--bcher-kva.example/a.swf"));
    EXPECT_EQ(TransferUrl(QStringLiteral(" host.example/a b.swf ")),
              QByteArray("http://host.example/a%20b.swf"));
}

TEST(WebAddress, OnlyAnAddressTheFullEncodingKeepsIsHandedOverAsWritten)
{
    const auto fullyEncoded = [](const QString& url) {
        return QUrl(url, QUrl::TolerantMode).toEncoded(QUrl::FullyEncoded);
    };
    struct Case
    {
        const char* url;
        bool asWritten;
    };
    for (const Case& c :
         {Case{"http://127.0.0.1:8765/movies/a.swf", true},
          Case{"https://www.example.com/a/b-c_d.swf?x=1&y=%C3%A9#top", true},
          Case{"http://example.com", true}, Case{"http://example.com/a'b(c)!*;=:@/d?e=[f]", true},
          Case{"HTTP://example.com/a.swf", false}, Case{"http://Example.com/a.swf", false},
          Case{"http://example.com/a%41.swf", false}, Case{"http://example.com/a%2f.swf", false},
          Case{"http://example.com/a b.swf", false}, Case{"http://example.com/a#b#c", false},
          Case{"http://example.com:/a.swf", false}, Case{"http://example.com:0080/a.swf", false},
          Case{"http://1.2.3/a.swf", false}, Case{"http://user@example.com/a.swf", false},
          Case{"http://xn--bcher-kva.example/a.swf", false},
          Case{"http://b\xc3\xbc"
               "cher.example/a.swf",
               false},
          Case{"example.com/a.swf", false}, Case{"http://example.com./a.swf", false}}) {
        EXPECT_EQ(transfer::IsEncodedWebAddress(c.url), c.asWritten) << c.url;
    }
    // Every character and every escape in the path, the query and the fragment: what is taken
    // as written is what the full encoding gives.
    for (const QString& form :
         {QStringLiteral("http://h.example/a%1b"), QStringLiteral("http://h.example/a?b%1c"),
          QStringLiteral("http://h.example/a#b%1c")}) {
        QStringList pieces;
        for (int c = 0x20; c < 0x7f; ++c)
            pieces << QString(QChar(c));
        for (int byte = 0; byte < 256; ++byte)
            pieces << QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper()
                   << QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0'));
        for (const QString& piece : pieces) {
            const QString url = form.arg(piece);
            if (transfer::IsEncodedWebAddress(url.toStdString())) {
                EXPECT_EQ(fullyEncoded(url), url.toUtf8()) << qPrintable(url);
            }
        }
    }
}

TEST_F(HttpGetTest, ThePartialFileIsOurOwnNewFileAndNeverAPlantedOne)
{
    // A link planted where a predictable partial file would be, and the user's own file of
    // that name: neither is followed, written or removed.
    const QString victim = QDir(folder.path()).filePath(QStringLiteral("victim"));
    ASSERT_TRUE(writeFile(victim, "precious"));
    ASSERT_TRUE(QFile::link(victim, target() + QStringLiteral(".part")));
    ASSERT_TRUE(writeFile(target() + QStringLiteral(".tmp.part"), "mine"));
    ASSERT_TRUE(fetch("/movie.swf"));
    EXPECT_EQ(readFile(target()), movie);
    EXPECT_EQ(readFile(victim), QByteArray("precious"));
    EXPECT_TRUE(QFileInfo(target() + QStringLiteral(".part")).isSymLink());
    EXPECT_EQ(readFile(target() + QStringLiteral(".tmp.part")), QByteArray("mine"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::System).size(), 4)
        << "no partial file of ours is left";
}

TEST_F(HttpGetTest, EveryFileIsWrittenBelowItsFolderNeverThroughALinkAndNeverOverWhenAskedNot)
{
    // Outside: the user's files a link planted below the folder leads to.
    const QTemporaryDir outside;
    const QString victim = QDir(outside.path()).filePath(QStringLiteral("victim"));
    ASSERT_TRUE(writeFile(victim, "precious"));
    const QDir root(folder.path());
    ASSERT_TRUE(QFile::link(outside.path(), root.filePath(QStringLiteral("linked"))));
    ASSERT_TRUE(QFile::link(victim, root.filePath(QStringLiteral("link.swf"))));
    ASSERT_TRUE(writeFile(root.filePath(QStringLiteral("mine.swf")), "mine"));
    ASSERT_TRUE(root.mkdir(QStringLiteral("a folder.swf")));

    using transfer::Placing;
    struct Case
    {
        const char* below;
        Placing placing;
        const char* failure; ///< nullptr: written
    };
    const Case cases[] = {
        {"linked/victim", Placing::Replace, "stands in the way"},
        {"linked/deeper/new.swf", Placing::Replace, "stands in the way"},
        {"../outside.swf", Placing::Replace, "unsafe name"},
        {"mine.swf", Placing::NeverOver, "exists already"},
        {"link.swf", Placing::NeverOver, "exists already"},
        {"a folder.swf", Placing::Replace, "is a folder"},
        {"link.swf", Placing::Replace, nullptr}, // the link is replaced, not written through
        {"new/deeper/made.swf", Placing::NeverOver, nullptr},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.below);
        transfer::ReplacingWriter writer(QFile::encodeName(folder.path()).toStdString(), test.below,
                                         test.placing);
        std::string error;
        const bool written = writer.write("FWS new", &error) && writer.commit(&error);
        EXPECT_EQ(written, !test.failure) << error;
        if (test.failure)
            EXPECT_NE(error.find(test.failure), std::string::npos) << error;
        else
            EXPECT_EQ(readFile(root.filePath(QLatin1String(test.below))), "FWS new");
    }
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("victim")});
    EXPECT_EQ(readFile(root.filePath(QStringLiteral("mine.swf"))), "mine");
    EXPECT_FALSE(QFileInfo(root.filePath(QStringLiteral("link.swf"))).isSymLink());

    // A capture's download into its layout goes the same way.
    server.start();
    transfer::Request request;
    request.url = server.url("/movie.swf");
    request.folder = QFile::encodeName(folder.path()).toStdString();
    request.fileName =
        QFile::encodeName(root.filePath(QStringLiteral("linked/m.swf"))).toStdString();
    const std::atomic<bool> never{false};
    transfer::FlagWatcher unwatched(never);
    const transfer::Outcome outcome = transfer::Fetch(request, unwatched);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_NE(outcome.error.find("stands in the way"), std::string::npos) << outcome.error;
    EXPECT_FALSE(QFile::exists(QDir(outside.path()).filePath(QStringLiteral("m.swf"))));
}

TEST_F(HttpGetTest, RedirectsAreFollowedButNotForever)
{
    server.server().Get("/first", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/second");
    });
    server.server().Get("/second", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/movie.swf", 301);
    });
    server.server().Get(
        R"(/loop(\d+))", [](const httplib::Request& request, httplib::Response& response) {
            response.set_redirect("/loop" + std::to_string(std::stoi(request.matches[1]) + 1));
        });
    ASSERT_TRUE(fetch("/first"));
    EXPECT_EQ(readFile(target()), movie);

    get.URL = url("/loop0");
    QSignalSpy failed(&get, &THTTPGet::OnError);
    get.StartTransfer();
    EXPECT_EQ(failed.count(), 1);
}

TEST_F(HttpGetTest, SchemeAndPortAreReadAsWritten)
{
    server.start();
    for (const QString& written : {QStringLiteral("HTTP://127.0.0.1:%1/movie.swf"),
                                   QStringLiteral("127.0.0.1:%1/movie.swf")}) {
        QFile::remove(target());
        get.URL = written.arg(server.port());
        QSignalSpy done(&get, &THTTPGet::OnDoneFile);
        get.StartTransfer();
        EXPECT_EQ(done.count(), 1) << qPrintable(get.URL) << ": " << qPrintable(get.errorString());
        EXPECT_EQ(readFile(target()), movie);
    }
}

TEST_F(HttpGetTest, HttpsWorksWithTrustedCertificatesOnly)
{
    const std::string fixtures = CLIPVAULT_FIXTURES;
    TestServer secure((fixtures + "/localhost.crt").c_str(), (fixtures + "/localhost.key").c_str());
    secure.server().Get("/movie.swf", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(movie.toStdString(), "application/x-shockwave-flash");
    });
    secure.start();
    get.URL = QString::fromStdString(secure.url("/movie.swf"));
    QSignalSpy done(&get, &THTTPGet::OnDoneFile);
    get.StartTransfer();
    EXPECT_EQ(done.count(), 0) << "a self-signed certificate is not trusted by default";
    EXPECT_TRUE(noFilesBut({}));

    get.CaCertificates = QString::fromStdString(fixtures + "/localhost.crt");
    get.StartTransfer();
    EXPECT_EQ(done.count(), 1) << qPrintable(get.errorString());
    EXPECT_EQ(readFile(target()), movie);
}

TEST_F(HttpGetTest, AStalledServerFailsWithinTheTimeOutWhileEventsKeepFlowing)
{
    server.server().Get("/stall.swf", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(1000, "application/x-shockwave-flash",
                                      [this](size_t, size_t, httplib::DataSink&) {
                                          server.holdWhileStalling(30s);
                                          return false;
                                      });
    });
    // The server holds its body back for half a minute; a second without data ends it first.
    get.StallTimeout = 1;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(fetch("/stall.swf"));
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_GT(ticks, 5) << "the caller's events are processed during the wait";
    EXPECT_TRUE(get.errorString().contains(QStringLiteral("no data")));
    EXPECT_TRUE(noFilesBut({}));
}

TEST_F(HttpGetTest, AServerThatDripsFailsSayingSo)
{
    // One byte every two seconds: never quiet for the time-out, yet far too slow.
    server.server().Get("/drip.swf", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(1000, "application/x-shockwave-flash",
                                      [this](size_t offset, size_t, httplib::DataSink& sink) {
                                          if (offset > 0)
                                              server.holdWhileStalling(2s);
                                          return sink.write("FWS" + offset, 1);
                                      });
    });
    get.StallTimeout = 4;
    EXPECT_FALSE(fetch("/drip.swf"));
    EXPECT_EQ(get.errorString(),
              QStringLiteral("the server sent less than a byte a second for 4 seconds"));
    EXPECT_TRUE(noFilesBut({}));
}

TEST_F(HttpGetTest, TwoDifferentSizesFailAndAnUnaskedCompressionIsDecoded)
{
    server.server().Get("/two.swf", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Length", "50");
        response.set_content_provider(103, "application/x-shockwave-flash",
                                      [](size_t, size_t, httplib::DataSink& sink) {
                                          const std::string body = "FWS" + std::string(100, 'x');
                                          sink.write(body.data(), body.size());
                                          return true;
                                      });
    });
    EXPECT_FALSE(fetch("/two.swf"));
    EXPECT_EQ(get.errorString(), QStringLiteral("the server announced two different sizes"));

    // A size too large to hold, and then a body cut short: never stored as complete.
    RawServer impossible([](int socket, const std::string&, RawServer&) {
        RawServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n"
                                "Connection: close\r\n\r\nFWS" +
                                    std::string(100, 'x'));
    });
    EXPECT_FALSE(fetchUrl(impossible.url("/cut.swf")));
    EXPECT_EQ(get.errorString(),
              QStringLiteral("the server announced a size that cannot be right"));
    EXPECT_TRUE(noFilesBut({}));

    const QByteArray packed = gzip(movie);
    server.server().Get(
        "/packed.swf", [&](const httplib::Request& request, httplib::Response& response) {
            lastRequest = request;
            response.set_header("Content-Encoding", "gzip");
            response.set_content(packed.toStdString(), "application/x-shockwave-flash");
        });
    ASSERT_TRUE(fetch("/packed.swf")) << qPrintable(get.errorString());
    EXPECT_EQ(readFile(target()), movie) << "the file is the movie, not its gzip";
    EXPECT_EQ(lastRequest.get_header_value("Accept-Encoding"), "identity")
        << "nothing compressed was asked for";
}

TEST_F(HttpGetTest, ASecondStartWhileBusyIsIgnoredAndCancelEndsAsFailed)
{
    server.server().Get("/slow.swf", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(1 << 20, "application/x-shockwave-flash",
                                      [this](size_t offset, size_t, httplib::DataSink& sink) {
                                          std::string block(4096, 's');
                                          std::this_thread::sleep_for(offset == 0 ? 0ms : 100ms);
                                          return server.stalling() &&
                                                 sink.write(block.data(), block.size());
                                      });
    });
    server.start();
    get.WaitThread = false;
    get.URL = url("/slow.swf");
    QSignalSpy done(&get, &THTTPGet::OnDoneFile);
    QSignalSpy failed(&get, &THTTPGet::OnError);
    QSignalSpy idle(&get, &THTTPGet::idle);
    get.StartTransfer();
    EXPECT_TRUE(get.isBusy());
    get.URL = url("/movie.swf");
    get.StartTransfer(); // ignored
    QSignalSpy progress(&get, &THTTPGet::OnProgress);
    ASSERT_TRUE(progress.wait(5000));
    get.CancelTransfer();
    ASSERT_TRUE(idle.wait(5000));
    EXPECT_EQ(done.count(), 0);
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(get.errorString(), QStringLiteral("the transfer was cancelled"));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(failed.count(), 1) << "the ignored start produced no event";
    EXPECT_TRUE(noFilesBut({}));
}

TEST_F(HttpGetTest, DestroyingTheComponentCancelsWithoutEvents)
{
    server.server().Get("/slow.swf", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(1 << 20, "application/x-shockwave-flash",
                                      [this](size_t, size_t, httplib::DataSink& sink) {
                                          std::string block(4096, 's');
                                          std::this_thread::sleep_for(100ms);
                                          return server.stalling() &&
                                                 sink.write(block.data(), block.size());
                                      });
    });
    server.start();
    auto doomed = std::make_unique<THTTPGet>();
    doomed->BinaryData = true;
    doomed->URL = url("/slow.swf");
    doomed->FileName = target();
    int events = 0;
    QObject::connect(doomed.get(), &THTTPGet::OnError, [&] { ++events; });
    QObject::connect(doomed.get(), &THTTPGet::OnDoneFile, [&] { ++events; });
    QSignalSpy progress(doomed.get(), &THTTPGet::OnProgress);
    doomed->StartTransfer();
    ASSERT_TRUE(progress.wait(30000)) << "the transfer never got under way";
    // The whole body would take 25 s; the destruction cancels it instead.
    QElapsedTimer clock;
    clock.start();
    doomed.reset();
    EXPECT_LT(clock.elapsed(), 15000);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(noFilesBut({}));
}

TEST_F(HttpGetTest, DownloadsAndPageFetchesShareOneProxyThatThisMachineNeverGoesThrough)
{
    // A proxy that notes the request line of each request and answers it with a small movie.
    std::mutex mutex;
    QStringList asked;
    RawServer proxy([&](int socket, const std::string& request, RawServer&) {
        {
            const std::lock_guard lock(mutex);
            asked << QString::fromStdString(request.substr(0, request.find("\r\n")));
        }
        RawServer::send(socket, "HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\nFWS-abc");
    });
    const QByteArray saved[] = {qgetenv("http_proxy"), qgetenv("no_proxy")};
    qputenv("http_proxy", proxy.url("/").toUtf8());
    qputenv("no_proxy", "direct.example");
    const auto askedOf = [&] {
        const std::lock_guard lock(mutex);
        return asked;
    };

    EXPECT_TRUE(fetchUrl(QStringLiteral("http://movies.example/a.swf")));
    const std::atomic<bool> never{false};
    EXPECT_TRUE(FetchPage(QStringLiteral("http://pages.example/p.html"), never).ok);
    EXPECT_EQ(askedOf(), (QStringList{"GET http://movies.example/a.swf HTTP/1.0",
                                      "GET http://pages.example/p.html HTTP/1.0"}));
    // This machine's own servers, and the hosts no_proxy names, are reached directly.
    EXPECT_TRUE(fetch("/movie.swf"));
    EXPECT_FALSE(FetchPage(QStringLiteral("http://direct.example/"), never).ok);
    EXPECT_EQ(askedOf().size(), 2);

    for (const auto& [name, value] : {std::pair{"http_proxy", saved[0]}, {"no_proxy", saved[1]}})
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
}

TEST(ProxySettings, SplitsAtTheLastColon)
{
    struct Case
    {
        const char* setting;
        const char* host;
        const char* port;
    };
    for (const Case& c : {Case{"name:3128", "name", "3128"},
                          Case{"http://user:pw@proxy.lan:8080/", "proxy.lan", "8080"},
                          Case{"a:b:99", "a:b", "99"}, Case{" 3128\n", "", "3128"}}) {
        std::string host;
        std::string port;
        EXPECT_TRUE(SplitProxySetting(c.setting, host, port)) << c.setting;
        EXPECT_EQ(host, c.host) << c.setting;
        EXPECT_EQ(port, c.port) << c.setting;
    }
    std::string host = "old";
    std::string port = "old";
    EXPECT_FALSE(SplitProxySetting("  ", host, port));
    EXPECT_TRUE(host.empty() && port.empty());
}

TEST(ProxySettings, TheDesktopsProxyComesFromTheEnvironment)
{
    const QByteArray saved = qgetenv("http_proxy");
    qputenv("http_proxy", "http://cache.lan:3128");
    std::string host;
    std::string port;
    EXPECT_TRUE(ReadBrowserProxy(host, port));
    EXPECT_EQ(host, "cache.lan");
    EXPECT_EQ(port, "3128");
    qunsetenv("http_proxy");
    for (const char* name :
         {"HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (qEnvironmentVariableIsSet(name))
            GTEST_SKIP() << name << " is set in this environment";
    }
    EXPECT_FALSE(ReadBrowserProxy(host, port));
    EXPECT_TRUE(host.empty() && port.empty());
    if (!saved.isNull())
        qputenv("http_proxy", saved);
}

TEST(RequestHead, EndsAtAnEmptyLineOfEitherKindHasALimitAndNamesItsHost)
{
    RequestHead head = ParseRequestHead("GET /a HTTP/1.1\r\nHost: x\r\n\r\nbody", 100);
    EXPECT_EQ(head.status, RequestHead::Complete);
    EXPECT_EQ(head.method, QByteArray("GET"));
    EXPECT_EQ(head.target, QByteArray("/a"));
    EXPECT_EQ(head.size, 28);
    EXPECT_EQ(head.host, QByteArray("x"));
    EXPECT_EQ(
        ParseRequestHead("GET / HTTP/1.1\r\nX-Host: y\r\nhOsT:  127.0.0.1:80 \r\n\r\n", 100).host,
        QByteArray("127.0.0.1:80"))
        << "the header's name in any case, its value trimmed; a name that only ends so is not it";
    head = ParseRequestHead("GET /b HTTP/1.0\nHost: x\n\n", 100);
    EXPECT_EQ(head.status, RequestHead::Complete) << "bare line feeds end lines too";
    EXPECT_EQ(head.target, QByteArray("/b"));
    EXPECT_EQ(ParseRequestHead("GET /a HTTP/1.1\r\nHost: x\r\n", 100).status,
              RequestHead::Incomplete);
    EXPECT_EQ(ParseRequestHead(QByteArray(101, 'x'), 100).status, RequestHead::TooLarge);
    const QByteArray longHeader = "GET /a HTTP/1.1\r\n" + QByteArray(100, 'h') + "\r\n\r\n";
    EXPECT_EQ(ParseRequestHead(longHeader, 100).status, RequestHead::TooLarge);
    EXPECT_EQ(ParseRequestHead("GARBAGE\r\n\r\n", 100).status, RequestHead::Bad);
    EXPECT_EQ(ParseRequestHead("GET a HTTP/1.1\r\n\r\n", 100).status, RequestHead::Bad);
}

TEST(SharedRoom, TransfersSharingARoomNeverWriteMoreThanItTogether)
{
    TestServer server;
    server.server().Get("/big", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(100000, 'b'), "application/octet-stream");
    });
    server.start();
    QTemporaryDir folder;
    const std::atomic<bool> never{false};
    transfer::FlagWatcher watcher(never);
    auto room = std::make_shared<std::atomic<long long>>(250000);
    const auto fetch = [&](const char* name) {
        transfer::Request request;
        request.url = server.url("/big");
        request.fileName = QDir(folder.path()).filePath(QLatin1String(name)).toStdString();
        request.sharedRoom = room;
        return transfer::Fetch(request, watcher);
    };
    // Three at once, as a movie's files come: two fit, the third does not.
    std::vector<std::thread> running;
    std::atomic<int> succeeded{0};
    for (const char* name : {"a", "b", "c"})
        running.emplace_back([&, name] { succeeded += fetch(name).succeeded ? 1 : 0; });
    for (std::thread& thread : running)
        thread.join();
    EXPECT_EQ(succeeded.load(), 2);
    EXPECT_EQ(room->load(), 50000) << "the failed one gave its bytes back";
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2) << "no partial file stays";
}

TEST(KeptConnections, ServeTheNextRequestsToASiteAndAreCheckedAgainForEach)
{
    TestServer server;
    std::mutex mutex;
    std::set<int> connections; // the client's port of each request
    int requests = 0;
    server.server().Get("/f", [&](const httplib::Request& request, httplib::Response& response) {
        const std::lock_guard lock(mutex);
        connections.insert(request.remote_port);
        ++requests;
        response.set_content("x", "text/plain");
    });
    server.start();
    const std::atomic<bool> never{false};
    transfer::FlagWatcher watcher(never);
    transfer::Request request;
    request.url = server.url("/f");
    request.publicOnly = true;
    request.allowedOrigin = transfer::OriginOf(request.url);
    transfer::Connections kept;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(transfer::Fetch(request, watcher, &kept).succeeded);
    EXPECT_EQ(connections.size(), 1u) << "one connection served the three requests";

    // The kept connection reaches this machine: a request that may not is refused before it
    // sends a byte, though the connection is open already.
    request.allowedOrigin.clear();
    const transfer::Outcome refused = transfer::Fetch(request, watcher, &kept);
    EXPECT_FALSE(refused.succeeded);
    EXPECT_NE(refused.error.find("is on this machine or its network"), std::string::npos)
        << refused.error;
    EXPECT_EQ(requests, 3);
}
