// The session with a browser's debugging endpoint against stand-ins that misbehave on the wire:
// every question is answered, a hung session is dropped and opened again, nothing the endpoint
// sends makes memory grow, and the event loop never waits on it.

#include "bidi/bidiconnection.h"
#include "bidi/firefoxport.h"
#include "browserconnection.h"
#include "devtools/debuggingport.h"
#include "datafolder.h"
#include "devtools/devtoolssession.h"
#include "ownbrowser.h"
#include "pagescripts.h"
#include "fakedevtools.h"
#include "testfiles.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

/// Asks `count` points one after the other and says how many were answered, each within
/// a generous margin over the session's answer time.
int answered(DevToolsSession& session, quint16 port, int count)
{
    QSignalSpy located(&session, &BrowserSession::located);
    int answers = 0;
    for (int i = 0; i < count; ++i) {
        session.FindMovieAtPoint({port}, QPoint(10 + i, 10));
        if (waitUntil([&] { return located.count() > answers; }, 10 * BrowserSession::kAnswerMs))
            ++answers;
    }
    return answers;
}

/// Keeps asking until the browser has seen more than `sockets` sessions opened.
bool reopened(DevToolsSession& session, const FakeDevTools& browser, int sockets)
{
    return waitUntil([&] {
        session.FindMovieAtPoint({browser.port()}, QPoint(5, 5));
        return browser.socketsOpened() > sockets;
    });
}

} // namespace

TEST(BrowserSession, AnUnansweredCallOrAFloodOfEventsNeverWedgesTheSession)
{
    // The browser tells of a page once the session asks for its targets, but never answers the
    // call that attaches to it.
    FakeDevTools browser([](const QJsonObject&) { return std::optional<QJsonObject>(); });
    browser.setAnswer([&](const QJsonObject& call) -> std::optional<QJsonObject> {
        const QString method = call.value(QStringLiteral("method")).toString();
        if (method == u"Target.attachToTarget")
            return std::nullopt;
        if (method == u"Target.setDiscoverTargets")
            browser.sendEventSoon(QJsonObject{
                {"method", "Target.targetCreated"},
                {"params", QJsonObject{{"targetInfo", QJsonObject{{"targetId", "p1"},
                                                                  {"type", "page"},
                                                                  {"url", "http://site/"}}}}}});
        return QJsonObject{};
    });
    DevToolsSession session;
    EXPECT_EQ(answered(session, browser.port(), 8), 8) << "questions waited on the page for good";
    EXPECT_TRUE(reopened(session, browser, 1)) << "the session with the unanswered call was kept";

    // Events flooding in while no call is answered: still an answer for every question, and
    // the session is dropped and opened again.
    browser.setAnswer([](const QJsonObject&) { return std::optional<QJsonObject>(); });
    browser.flood(true);
    const int opened = browser.socketsOpened();
    EXPECT_EQ(answered(session, browser.port(), 8), 8);
    EXPECT_TRUE(reopened(session, browser, opened))
        << browser.socketsOpened() << " " << opened << " " << browser.versionRequests();
    browser.flood(false);
}

TEST(BrowserSession, ABrowserThatAcceptsAndNeverAnswersLeavesTheEventLoopLive)
{
    // A debugging port that takes connections and never says a word.
    QTcpServer hung;
    ASSERT_TRUE(hung.listen(QHostAddress::LocalHost));
    std::vector<QTcpSocket*> held;
    QObject::connect(&hung, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = hung.nextPendingConnection())
            held.push_back(socket);
    });
    DevToolsSession session;
    int answers = 0;
    QObject::connect(&session, &BrowserSession::located,
                     [&](QPoint, const std::optional<MovieAtPoint>& movie) {
                         EXPECT_FALSE(movie);
                         ++answers;
                     });
    // The event loop keeps turning while the question waits: a heartbeat measures its gaps.
    QElapsedTimer sinceBeat;
    qint64 longestGap = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
    heartbeat.start(5);
    sinceBeat.start();
    QElapsedTimer asking;
    asking.start();
    for (int i = 0; i < 50; ++i)
        session.FindMovieAtPoint({hung.serverPort()}, QPoint(i, i));
    EXPECT_LT(asking.elapsed(), 1000) << "asking never waits on the browser";
    ASSERT_TRUE(waitUntil([&] { return answers >= 1; }));
    EXPECT_LE(answers, 2) << "the points asked meanwhile fold into the latest";
    EXPECT_FALSE(session.isReady());
    EXPECT_LT(longestGap, 1000) << "the event loop stalled";
}

namespace {

/// A browser with three pages, p1 to p3 (http://site/pN), of which `visible` call themselves
/// visible; pages that do not answer leave every evaluation unanswered.
void answerWithPages(FakeDevTools& browser, const QStringList& visible, bool pagesAnswer = true)
{
    browser.setAnswer([&browser, visible,
                       pagesAnswer](const QJsonObject& call) -> std::optional<QJsonObject> {
        const QString method = call.value("method").toString();
        if (method == u"Target.setDiscoverTargets") {
            for (const char* page : {"p1", "p2", "p3"})
                browser.sendEvent(
                    {{"method", "Target.targetCreated"},
                     {"params", QJsonObject{{"targetInfo",
                                             QJsonObject{{"targetId", page},
                                                         {"type", "page"},
                                                         {"url", QString(QString("http://site/") +
                                                                         page)}}}}}});
        } else if (method == u"Target.attachToTarget") {
            return QJsonObject{
                {"sessionId", QString("s-" + call.value("params")["targetId"].toString())}};
        } else if (method == u"Runtime.evaluate") {
            if (!pagesAnswer)
                return std::nullopt;
            const QString page = call.value("sessionId").toString().mid(2);
            return QJsonObject{
                {"result",
                 QJsonObject{{"value", QJsonObject{{"visible", visible.contains(page)},
                                                   {"url", QString("http://site/" + page)}}}}}};
        }
        return QJsonObject{};
    });
}

} // namespace

TEST(BrowserSession, AnEverydayProfileIsReachedThroughTheEndpointItsProfileNames)
{
    FakeDevTools browser([](const QJsonObject&) { return std::optional<QJsonObject>(); });
    answerWithPages(browser, {});
    browser.setDiscovery(false);
    QTemporaryDir profile;
    QFile active(QDir(profile.path()).filePath("DevToolsActivePort"));
    ASSERT_TRUE(active.open(QIODevice::WriteOnly));
    active.write(QByteArray::number(browser.port()) + "\n/devtools/browser/fake\n");
    active.close();
    const DebuggingEndpoint found =
        DebuggingEndpointFromCommandLine({"chromium", "--user-data-dir=" + profile.path()});
    EXPECT_EQ(found.port, browser.port());
    EXPECT_EQ(found.browserPath, QStringLiteral("/devtools/browser/fake"));

    DevToolsSession session;
    std::optional<QString> address;
    session.GetAddressBarText({found.port, BrowserKind::Chromium, found.browserPath}, &session,
                              [&](const QString& text) { address = text; });
    ASSERT_TRUE(waitUntil([&] { return address.has_value(); }, 4 * BrowserSession::kTabAnswerMs));
    EXPECT_TRUE(address->startsWith("http://site/p")) << qPrintable(*address);
    EXPECT_EQ(session.route(), QStringLiteral("DevToolsActivePort"));
}

TEST(BrowserSession, TheVisibleTabIsThePageThatSaysSoElseTheOneTheBrowserListsFirst)
{
    struct Case
    {
        const char* name;
        QStringList visible; ///< the pages that call themselves visible
        bool pagesAnswer;    ///< whether the pages answer at all
        QString expected;
    };
    const Case cases[] = {
        {"one page visible", {"p2"}, true, "http://site/p2"},
        {"covered: every page hidden", {}, true, "http://site/p3"},
        {"pages that never answer", {}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDevTools browser([](const QJsonObject&) { return std::optional<QJsonObject>(); });
        answerWithPages(browser, c.visible, c.pagesAnswer);
        // Most recently active first, whatever order the targets were told in.
        browser.setList({QJsonObject{{"id", "p3"}, {"url", "http://site/p3"}},
                         QJsonObject{{"id", "p1"}, {"url", "http://site/p1"}}});
        DevToolsSession session;
        std::optional<QString> answer;
        QElapsedTimer clock;
        clock.start();
        session.GetAddressBarText({browser.port()}, &session,
                                  [&](const QString& address) { answer = address; });
        EXPECT_FALSE(answer) << "answered before the question returned";
        ASSERT_TRUE(
            waitUntil([&] { return answer.has_value(); }, 4 * BrowserSession::kTabAnswerMs));
        EXPECT_EQ(*answer, c.expected);
        EXPECT_LT(clock.elapsed(), 2 * BrowserSession::kTabAnswerMs);
    }
}

TEST(BrowserSession, FirefoxsSlowAnswerToANewSessionIsWaitedForNotAbandoned)
{
    // Firefox keeps a session whose socket went before its answer came, and refuses every later
    // one: a just-started Firefox that answers slowly must not be asked twice.
    int asked = 0;
    FakeDevTools firefox([&](const QJsonObject& call) -> std::optional<QJsonObject> {
        asked += call.value(QStringLiteral("method")).toString() == u"session.new";
        return QJsonObject{{QStringLiteral("sessionId"), QStringLiteral("one")}};
    });
    firefox.setReplyDelay(BrowserConnection::kConnectMs + BrowserConnection::kCallMs);
    BidiConnection connection;
    connection.setSubscriptions({});
    EXPECT_TRUE(waitUntil(
        [&] { return connection.open(firefox.port()) == BrowserConnection::State::Ready; },
        BidiConnection::kSessionNewMs));
    EXPECT_EQ(asked, 1);
}

TEST(FirefoxPort, ComesFromTheCommandLineTheProfileOrTheDefaultProfile)
{
    QTemporaryDir home;
    const QDir firefox(home.path());
    const auto writeText = [](const QString& path, const QByteArray& text) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };
    ASSERT_TRUE(writeText(firefox.filePath("own/WebDriverBiDiServer.json"),
                          R"({"ws_host":"127.0.0.1","ws_port":41001})"));
    ASSERT_TRUE(writeText(firefox.filePath("abc.default-esr/WebDriverBiDiServer.json"),
                          R"({"ws_port":41002})"));
    ASSERT_TRUE(writeText(firefox.filePath("profiles.ini"),
                          "[Profile0]\nName=other\nIsRelative=1\nPath=zzz.other\n\n"
                          "[Install4F96D1932A9F858E]\nDefault=abc.default-esr\nLocked=1\n"));
    const QString own = firefox.filePath("own");
    const std::pair<QStringList, quint16> cases[] = {
        {{"firefox", "--remote-debugging-port", "9333"}, 9333},
        {{"firefox", "--remote-debugging-port=9334"}, 9334},
        {{"firefox", "--remote-debugging-port", "0", "--profile", own}, 41001},
        {{"firefox", "-profile", own}, 41001},
        {{"firefox-esr", "--remote-debugging-port"}, 41002}, // the installation's default
    };
    for (const auto& [arguments, port] : cases)
        EXPECT_EQ(FirefoxPortFromCommandLine(arguments, home.path()), port)
            << qPrintable(arguments.join(u' '));
    EXPECT_EQ(FirefoxPortFromCommandLine({"firefox"}, firefox.filePath("nowhere")), 0)
        << "no profiles.ini: no port";
}

TEST(OwnBrowser, IsTheOneStartedLastWhoseProfileLockNamesALiveProcess)
{
    QTemporaryDir data;
    const QDir folder(data.path());
    const auto start = [&](const char* profile, const QString& lockName, const QString& lockTarget,
                           const QString& portFile, const QByteArray& port) {
        const QDir dir(folder.filePath(QLatin1String(profile)));
        QDir().mkpath(dir.path());
        QFile::remove(dir.filePath(lockName));
        QFile file(dir.filePath(portFile));
        return QFile::link(lockTarget, dir.filePath(lockName)) && file.open(QIODevice::WriteOnly) &&
               file.write(port) == port.size();
    };
    const QString live = QString::number(::getpid());
    const QString ended = QStringLiteral("999999999"); // beyond any pid the kernel hands out
    EXPECT_FALSE(OwnBrowserEndpoint(data.path()).isKnown()) << "nothing started";

    ASSERT_TRUE(start(kChromiumProfileFolder, "SingletonLock", "host-" + ended,
                      "DevToolsActivePort", "41001\n/devtools/browser/b\n"));
    EXPECT_FALSE(OwnBrowserEndpoint(data.path()).isKnown()) << "a browser that ended";

    ASSERT_TRUE(start(kChromiumProfileFolder, "SingletonLock", "host-" + live, "DevToolsActivePort",
                      "41001\n/devtools/browser/b\n"));
    EXPECT_EQ(OwnBrowserEndpoint(data.path()),
              (BrowserEndpoint{41001, BrowserKind::Chromium, "/devtools/browser/b"}));

    // Firefox started after it, its port file written later.
    ASSERT_TRUE(waitUntil([&] {
        return QFileInfo(folder.filePath("browser-profile/DevToolsActivePort")).lastModified() <
               QDateTime::currentDateTime();
    }));
    ASSERT_TRUE(start(kFirefoxProfileFolder, "lock", "127.0.0.1:+" + live,
                      "WebDriverBiDiServer.json", R"({"ws_port":41002})"));
    EXPECT_EQ(OwnBrowserEndpoint(data.path()), (BrowserEndpoint{41002, BrowserKind::Firefox}));
}

TEST(PageScripts, AMovieThePagePlacesBeyondAnyScreenGetsABoundedPlaceOfNoNegativeSize)
{
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(
        {{"x", 10}, {"y", 20}, {"ow", 1000}, {"oh", 700}, {"iw", 990}, {"ih", 600}, {"dpr", 1}});
    ASSERT_TRUE(geometry);
    struct Case
    {
        double left, top, width, height;
    };
    for (const Case& hit : {Case{5, 6, 200, 100}, Case{0, 0, 2e20, 1e300},
                            Case{-1e300, 5, 1e300, 10}, Case{5, 6, -2e20, -5}}) {
        const std::optional<MovieAtPoint> movie = PageScripts::movieOf({{"address", "m.swf"},
                                                                        {"left", hit.left},
                                                                        {"top", hit.top},
                                                                        {"width", hit.width},
                                                                        {"height", hit.height}},
                                                                       *geometry);
        ASSERT_TRUE(movie);
        const QRect& place = movie->screenRect;
        EXPECT_GE(place.width(), 0) << hit.width;
        EXPECT_GE(place.height(), 0) << hit.height;
        EXPECT_LE(qAbs(qint64(place.left())) + place.width(), qint64(1) << 26) << hit.width;
        if (hit.width == 200) {
            EXPECT_EQ(place.size(), QSize(200, 100)) << "an ordinary movie keeps its size";
        }
    }
}

TEST(BrowserSession, ADebuggingPortIsOpenedOnlyWhenItsListenerIsThisUsers)
{
    QTcpServer ours;
    ASSERT_TRUE(ours.listen(QHostAddress::LocalHost));
    EXPECT_TRUE(LoopbackListenerIsOurs(ours.serverPort())) << "a listener of this user's";

    // The kernel's table as another user's browser leaves it, and a socket that only connects.
    QTemporaryDir folder;
    const QString table = QDir(folder.path()).filePath(QStringLiteral("tcp"));
    const QByteArray header = "  sl  local_address rem_address   st tx_queue rx_queue tr "
                              "tm->when retrnsmt   uid  timeout inode\n";
    const auto row = [](const char* state, unsigned uid) -> QByteArray {
        return QByteArray("   0: 0100007F:2329 00000000:0000 ") + state +
               " 00000000:00000000 00:00000000 00000000 " + QByteArray::number(uid) +
               "        0 4242 1 0000000000000000 100 0 0 10 0\n";
    };
    const struct
    {
        QByteArray rows;
        bool ours;
    } cases[] = {
        {row("0A", ::getuid()), true},
        {row("0A", ::getuid() + 1), false},
        {row("01", ::getuid()), false},
        {{}, false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writeFile(table, header + c.rows));
        EXPECT_EQ(LoopbackListenerIsOurs(9001, {table}), c.ours) << c.rows.constData();
    }
}
