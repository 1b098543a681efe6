#include "movieserver.h"

#include "playerfiles.h"
#include "previewfolder.h"
#include "keptfiles.h"
#include "rawserver.h"
#include "testserver.h"
#include "testfiles.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace {

/// One raw request to the server, which runs on this thread: the event loop keeps turning while
/// the answer comes. Returns the status line and the body.
std::pair<QByteArray, QByteArray> request(quint16 port, const QByteArray& path,
                                          QByteArray host = {})
{
    if (host.isEmpty())
        host = "127.0.0.1:" + QByteArray::number(port);
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
    closed.wait(30000);
    answer += socket.readAll();
    const qsizetype headEnd = answer.indexOf("\r\n\r\n");
    return {answer.left(answer.indexOf("\r\n")),
            headEnd < 0 ? QByteArray() : answer.mid(headEnd + 4)};
}

QByteArray pathOf(const QString& url)
{
    return QUrl(url).path(QUrl::FullyEncoded).toUtf8();
}

} // namespace

TEST(MovieServer, ServesThePlayerAndHandedMoviesOnlyBehindItsToken)
{
    QTemporaryDir folder;
    const QString movie = QDir(folder.path()).filePath(QStringLiteral("handed.swf"));
    const QString other = QDir(folder.path()).filePath(QStringLiteral("other.swf"));
    ASSERT_TRUE(writeFile(movie, "FWS handed"));
    ASSERT_TRUE(writeFile(other, "FWS not handed"));
    MovieServer server(PlayerFiles::ruffleFolder());
    ASSERT_TRUE(server.isListening());

    const QByteArray page = pathOf(server.pageUrl());
    EXPECT_EQ(request(server.port(), page).first, QByteArray("HTTP/1.1 200 OK"));
    const QByteArray token = page.split('/').at(1);
    EXPECT_EQ(token.size(), 48) << "an unguessable token";
    EXPECT_EQ(request(server.port(), "/" + token + "/ruffle/ruffle.js").first,
              QByteArray("HTTP/1.1 200 OK"));

    const QString address = server.addMovie(movie);
    ASSERT_FALSE(address.isEmpty());
    const auto answer = request(server.port(), pathOf(address));
    EXPECT_EQ(answer.first, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(answer.second, QByteArray("FWS handed"));

    // Everything else is refused.
    const QByteArray wrongToken = QByteArray(page).replace(token, QByteArray(48, 'a'));
    const QByteArray base = "/" + token;
    const QList<QByteArray> refused{wrongToken,
                                    QByteArray("/player.html"),
                                    QByteArray("/"),
                                    base + "/ruffle/",
                                    base + "/ruffle/../../../etc/passwd",
                                    base + "/ruffle/%2e%2e%2f%2e%2e%2fetc%2fpasswd",
                                    base + "/movie/999/other.swf",
                                    base + "/" + QUrl::toPercentEncoding(other),
                                    base + "/ruffle/.installed"};
    for (const QByteArray& path : refused)
        EXPECT_EQ(request(server.port(), path).first, QByteArray("HTTP/1.1 404 Not Found"))
            << path.constData();
    // A page that reaches the port under another name (DNS rebinding) hears nothing, even
    // with the token; "localhost" is this machine.
    const QByteArray port = QByteArray::number(server.port());
    const QList<QByteArray> foreignHosts = {"evil.example:" + port, QByteArray("127.0.0.1"),
                                            "127.0.0.1:" + QByteArray::number(server.port() + 1)};
    for (const QByteArray& host : foreignHosts)
        EXPECT_EQ(request(server.port(), page, host).first,
                  QByteArray("HTTP/1.1 421 Misdirected Request"))
            << host.constData();
    EXPECT_EQ(request(server.port(), page, "LocalHost:" + port).first,
              QByteArray("HTTP/1.1 200 OK"));

    EXPECT_TRUE(server.addMovie(QStringLiteral("no flash")).isEmpty());
    EXPECT_TRUE(server.addMovie(QStringLiteral("/")).isEmpty());
    EXPECT_TRUE(MovieServer::isAllowedPeer(QHostAddress::LocalHost));
    EXPECT_TRUE(MovieServer::isAllowedPeer(QHostAddress::LocalHostIPv6));
    EXPECT_FALSE(MovieServer::isAllowedPeer(QHostAddress(QStringLiteral("192.0.2.7"))));
}

TEST(MovieServer, IdleConnectionsAreCappedAndNeverKeepThePlayerWaiting)
{
    MovieServer server(PlayerFiles::ruffleFolder());
    const QByteArray page = pathOf(server.pageUrl());
    // More connections than the server keeps open, that never say a thing, as anyone on the
    // machine may open them.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 300; ++i) {
        auto& socket = idle.emplace_back(std::make_unique<QTcpSocket>());
        socket->connectToHost(QHostAddress::LocalHost, server.port());
    }
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(idle.begin(), idle.end(), [](const auto& socket) {
            return socket->state() != QAbstractSocket::ConnectingState;
        });
    }));
    QTcpSocket player;
    QByteArray answer;
    QObject::connect(&player, &QTcpSocket::readyRead, [&] { answer += player.readAll(); });
    player.connectToHost(QHostAddress::LocalHost, server.port());
    player.write("GET " + page +
                 " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n\r\n");
    int most = 0;
    QElapsedTimer clock;
    clock.start();
    // The idle ones would hold it for as long as their own deadline: tens of seconds.
    EXPECT_TRUE(waitUntil(
        [&] {
            most = std::max(most, server.connectionCount());
            return answer.startsWith("HTTP/1.1 200 OK");
        },
        10000))
        << "the player's request waited behind idle connections";
    RecordProperty("playerAnsweredAfterMs", static_cast<int>(clock.elapsed()));
    EXPECT_LE(most, 256) << "connections are capped";
    EXPECT_TRUE(waitUntil([&] { return server.connectionCount() == 0; }, 50000))
        << "idle connections are dropped";
}

TEST(MovieServer, OversizedBadAndBareLineFeedRequestsAreAnsweredAsTheyDeserve)
{
    MovieServer server(PlayerFiles::ruffleFolder());
    const QByteArray page = pathOf(server.pageUrl());
    const auto raw = [&](const QByteArray& bytes) {
        QTcpSocket socket;
        QByteArray answer;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        socket.write(bytes);
        EXPECT_TRUE(waitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }));
        answer += socket.readAll();
        return answer.left(answer.indexOf("\r\n"));
    };
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(server.port());
    EXPECT_EQ(raw("GET " + page + " HTTP/1.0\n" + host + "\n\n"), QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(raw("GET " + page + " HTTP/1.1\r\nX: " + QByteArray(20000, 'x') + "\r\n\r\n"),
              QByteArray("HTTP/1.1 431 Request Header Fields Too Large"));
    EXPECT_EQ(raw("NONSENSE\r\n\r\n"), QByteArray("HTTP/1.1 400 Bad Request"));
    // A large body after the request is neither waited for nor kept.
    EXPECT_EQ(raw("GET " + page + " HTTP/1.1\r\n" + host + "\r\n\r\n" + QByteArray(8 << 20, 'b')),
              QByteArray("HTTP/1.1 200 OK"));
}

TEST(MovieServer, AFileOfThePlayerFolderThatLinksElsewhereIsRefused)
{
    QTemporaryDir outside;
    QTemporaryDir player;
    const QString secret = QDir(outside.path()).filePath(QStringLiteral("secret.txt"));
    ASSERT_TRUE(writeFile(secret, "private"));
    ASSERT_TRUE(writeFile(QDir(player.path()).filePath(QStringLiteral("ruffle.js")), "js"));
    ASSERT_TRUE(QFile::link(secret, QDir(player.path()).filePath(QStringLiteral("link.js"))));
    MovieServer server(player.path());
    const QByteArray base = "/" + pathOf(server.pageUrl()).split('/').at(1);
    EXPECT_EQ(request(server.port(), base + "/ruffle/ruffle.js").second, QByteArray("js"));
    EXPECT_EQ(request(server.port(), base + "/ruffle/link.js").first,
              QByteArray("HTTP/1.1 404 Not Found"));
}

TEST(MovieServer, ALocalMoviesRelativeLoadsReachItsOwnFolderAndNothingElse)
{
    QTemporaryDir outside;
    QTemporaryDir folder;
    const QDir here(folder.path());
    ASSERT_TRUE(here.mkpath("game/data"));
    ASSERT_TRUE(writeFile(QDir(outside.path()).filePath("secret.swf"), "FWS private"));
    ASSERT_TRUE(writeFile(here.filePath("game/loader.swf"), "FWS loader"));
    ASSERT_TRUE(writeFile(here.filePath("game/child.swf"), "FWS child"));
    ASSERT_TRUE(writeFile(here.filePath("game/data/level1.xml"), "<level/>"));
    ASSERT_TRUE(writeFile(here.filePath("game/.hidden"), "no"));
    ASSERT_TRUE(writeFile(here.filePath("beside.swf"), "FWS beside the folder"));
    ASSERT_TRUE(
        QFile::link(QDir(outside.path()).filePath("secret.swf"), here.filePath("game/link.swf")));
    MovieServer server(PlayerFiles::ruffleFolder());
    const QByteArray movie = pathOf(server.addMovie(here.filePath("game/loader.swf")));
    const QByteArray base = movie.left(movie.lastIndexOf('/') + 1);

    const std::pair<QByteArray, QByteArray> served[] = {
        {"loader.swf", "FWS loader"}, {"child.swf", "FWS child"}, {"data/level1.xml", "<level/>"}};
    for (const auto& [path, body] : served)
        EXPECT_EQ(request(server.port(), base + path).second, body) << path.constData();
    // Reading the files beside it, it reaches nothing of the network, this machine's included.
    TestServer listener;
    std::atomic<int> reached{0};
    listener.server().Get("/ping", [&](const httplib::Request&, httplib::Response&) { ++reached; });
    listener.start();
    const QByteArray ping = "site/http/127.0.0.1:" + QByteArray::number(listener.port()) + "/ping";
    for (const QByteArray path : {"../beside.swf", "%2e%2e/beside.swf", "data", "data/", ".hidden",
                                  "link.swf", "missing.swf", ping.constData()})
        EXPECT_EQ(request(server.port(), base + path).first, QByteArray("HTTP/1.1 404 Not Found"))
            << path.constData();
    EXPECT_EQ(reached.load(), 0);
}

TEST(MovieServer, ACataloguedMoviesLoadsComeFromItsKeptFilesOrItsSiteAndNeverLeaveTheLayout)
{
    // A service of the user's own machine, which the movie's loads must never reach.
    TestServer service;
    std::atomic<int> serviceAsked{0};
    service.server().Get("/secret", [&](const httplib::Request&, httplib::Response& response) {
        ++serviceAsked;
        response.set_content("private", "text/plain");
    });
    service.start();
    const QByteArray servicePort = QByteArray::number(service.port());
    TestServer site;
    site.server().Get("/games/go", [&](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("http://127.0.0.1:" + servicePort.toStdString() + "/secret");
    });
    for (const char* path : {"/games/child.swf", "/games/unlisted.xml"}) {
        site.server().Get(path, [](const httplib::Request& request, httplib::Response& response) {
            if (request.path == "/games/child.swf")
                response.set_content("FWS child", "application/x-shockwave-flash");
            else
                response.status = 404;
        });
    }
    site.start();
    const QString origin = QString::fromStdString(site.url("/games/movie.swf"));
    QTemporaryDir folder;
    const QString movieFile = QDir(folder.path()).filePath("movie.swf");
    ASSERT_TRUE(writeFile(movieFile, "FWS movie"));
    // The user's files beside it, which a movie of the web must never read and send to its site.
    ASSERT_TRUE(writeFile(QDir(folder.path()).filePath("secret.txt"), "IBAN"));
    ASSERT_TRUE(QDir(folder.path()).mkpath("sub"));
    ASSERT_TRUE(writeFile(QDir(folder.path()).filePath("sub/secret.txt"), "IBAN"));
    // One file kept and named by the manifest; one lying in the layout that it does not name.
    const QString kept = KeptFolderOf(movieFile);
    const QString host = QStringLiteral("127.0.0.1_%1/games/").arg(site.port());
    ASSERT_TRUE(QDir().mkpath(QDir(kept).filePath(host)));
    ASSERT_TRUE(writeFile(QDir(kept).filePath(host + "kept.xml"), "<kept/>"));
    ASSERT_TRUE(writeFile(QDir(kept).filePath(host + "unlisted.xml"), "<not in the manifest/>"));
    // One named by the manifest that links out of the layout.
    const QString outside = QDir(folder.path()).filePath("private.txt");
    ASSERT_TRUE(writeFile(outside, "private"));
    ASSERT_TRUE(QFile::link(outside, QDir(kept).filePath(host + "link.xml")));
    KeptManifest manifest;
    manifest.movieUrl = origin;
    manifest.put(
        {QString::fromStdString(site.url("/games/kept.xml")), host + "kept.xml", 7, {}, {}});
    manifest.put(
        {QString::fromStdString(site.url("/games/link.xml")), host + "link.xml", 7, {}, {}});
    ASSERT_TRUE(WriteManifest(kept, manifest));

    MovieServer server(PlayerFiles::ruffleFolder());
    server.setOriginLookup([&](const QString&) { return MovieOrigin{origin, true}; });
    QSignalSpy keptSignal(&server, &MovieServer::filesKept);
    const QByteArray movie = pathOf(server.addMovie(movieFile));
    EXPECT_TRUE(movie.endsWith(
        QByteArray("/site/http/127.0.0.1:" + QByteArray::number(site.port()) + "/games/movie.swf")))
        << movie.constData() << ": served under its own address's path";
    const QByteArray base = movie.left(movie.lastIndexOf('/') + 1);
    const QByteArray siteRoot = movie.left(movie.indexOf("/site/") + 6);
    const std::pair<QByteArray, QByteArray> served[] = {
        {base + "movie.swf", "FWS movie"},
        {base + "kept.xml", "<kept/>"},
        {base + "child.swf?v=2", "FWS child"}, // fetched from the site and kept
    };
    for (const auto& [path, body] : served)
        EXPECT_EQ(request(server.port(), path).second, body) << path.constData();
    ASSERT_EQ(keptSignal.size(), 1);
    EXPECT_EQ(keptSignal.first().at(1).toInt(), 3) << "the two named, and the child";
    const QByteArray ownFolder = movie.left(movie.indexOf("/site/") + 1);
    const QList<QByteArray> refused = {base + "secret.txt",
                                       base + "sub/secret.txt",
                                       ownFolder + "secret.txt",
                                       ownFolder + "sub/secret.txt",
                                       base + "unlisted.xml",
                                       base + "a%2F..%2F..%2Fmovie.swf",
                                       base + "..%2Fkept.xml",
                                       siteRoot + "http/10.0.0.1/games/kept.xml",
                                       siteRoot + "http/localhost:631/x.xml",
                                       siteRoot + "file//etc/passwd",
                                       base + "go",
                                       base + "link.xml",
                                       siteRoot + "http/127.1:" + servicePort + "/secret"};
    for (const QByteArray& path : refused)
        EXPECT_EQ(request(server.port(), path).first, QByteArray("HTTP/1.1 404 Not Found"))
            << path.constData();

    EXPECT_EQ(serviceAsked.load(), 0) << "the machine's own service was never reached";

    site.stop();
    EXPECT_EQ(request(server.port(), base + "child.swf").second, QByteArray("FWS child"))
        << "what was kept plays without the site";
}

TEST(MovieServer, ARemoteMovieThatNeverEndsIsFetchedIntoTheCacheFolderWithinItsBounds)
{
    RawServer endless(RawServer::endless(
        "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\nFWS"));
    const QDir cache(QStandardPaths::writableLocation(QStandardPaths::CacheLocation));
    const auto previews = [&] {
        return cache.entryList({QStringLiteral("preview-*")}, QDir::Dirs);
    };
    const QStringList before = previews();
    {
        MovieServer server(PlayerFiles::ruffleFolder());
        server.setPreviewLimits(2 << 20, 30);
        const QString address = server.addMovie(endless.url("/endless.swf"));
        EXPECT_EQ(request(server.port(), pathOf(address)).first,
                  QByteArray("HTTP/1.1 502 Bad Gateway"))
            << "the fetch went on past its bound";
        EXPECT_EQ(previews().size(), before.size() + 1) << "not in the user's cache folder";
    }
    EXPECT_EQ(previews(), before) << "the fetched file outlived the server";
}

TEST(PreviewFolder, TheNextStartRemovesTheFoldersOfKilledRunsAndKeepsTheLiving)
{
    QTemporaryDir cache;
    QTemporaryDir elsewhere;
    const QDir here(cache.path());
    // Files aged as a killed run leaves them: utimes() sets both times.
    const auto age = [](const QString& path, int seconds) {
        const timeval then[2] = {{time(nullptr) - seconds, 0}, {time(nullptr) - seconds, 0}};
        return ::utimes(QFile::encodeName(path).constData(), then) == 0;
    };
    const PreviewFolder living(cache.path());
    ASSERT_TRUE(living.isValid());
    ASSERT_TRUE(age(QDir(living.path()).filePath(QStringLiteral(".running")), 3600));
    for (const char* name : {"preview-killed", "preview-older", "preview-fresh"})
        ASSERT_TRUE(here.mkpath(QLatin1String(name)));
    ASSERT_TRUE(writeFile(here.filePath(QStringLiteral("preview-killed/.running")), ""));
    ASSERT_TRUE(age(here.filePath(QStringLiteral("preview-killed/.running")), 3600));
    ASSERT_TRUE(writeFile(here.filePath(QStringLiteral("preview-older/movie.swf")), "FWS"));
    ASSERT_TRUE(age(here.filePath(QStringLiteral("preview-older")), 2 * 24 * 3600));
    ASSERT_TRUE(writeFile(QDir(elsewhere.path()).filePath(QStringLiteral("kept")), "x"));
    ASSERT_TRUE(QFile::link(elsewhere.path(), here.filePath(QStringLiteral("preview-link"))));

    EXPECT_EQ(PreviewFolder::RemoveDead(cache.path()), 2);
    QStringList left =
        here.entryList({QStringLiteral("preview-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList kept{QFileInfo(living.path()).fileName(), "preview-fresh", "preview-link"};
    left.sort();
    kept.sort();
    EXPECT_EQ(left, kept)
        << "the living run's, a lockless one of today, and a link, which is not followed";
    EXPECT_TRUE(QFile::exists(QDir(elsewhere.path()).filePath(QStringLiteral("kept"))));
}
