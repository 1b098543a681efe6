// The session with a browser's debugging endpoint against stand-ins that misbehave on the wire:
// every question is answered, a hung session is dropped and opened again, nothing the endpoint
// sends makes memory grow, and the event loop never waits on it.

#include "devtools/devtoolssession.h"
#include "fakedevtools.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
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
        browser.setAnswer([&](const QJsonObject& call) -> std::optional<QJsonObject> {
            const QString method = call.value("method").toString();
            if (method == u"Target.setDiscoverTargets") {
                for (const char* page : {"p1", "p2", "p3"})
                    browser.sendEvent(
                        {{"method", "Target.targetCreated"},
                         {"params", QJsonObject{{"targetInfo", QJsonObject{{"targetId", page},
                                                                           {"type", "page"}}}}}});
            } else if (method == u"Target.attachToTarget") {
                return QJsonObject{
                    {"sessionId", QString("s-" + call.value("params")["targetId"].toString())}};
            } else if (method == u"Runtime.evaluate") {
                if (!c.pagesAnswer)
                    return std::nullopt;
                const QString page = call.value("sessionId").toString().mid(2);
                return QJsonObject{
                    {"result",
                     QJsonObject{{"value", QJsonObject{{"visible", c.visible.contains(page)},
                                                       {"url", QString("http://site/" + page)}}}}}};
            }
            return QJsonObject{};
        });
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
