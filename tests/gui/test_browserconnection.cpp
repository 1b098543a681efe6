// The session with a browser's debugging endpoint against stand-ins that misbehave on the wire:
// every question is answered, a hung session is dropped and opened again, and nothing the
// endpoint sends makes memory grow.

#include "devtools/devtoolssession.h"
#include "fakedevtools.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace {

/// Asks `count` points one after the other and says how many were answered, each within
/// a generous margin over the session's answer time.
int answered(DevToolsSession& session, quint16 port, int count)
{
    QSignalSpy located(&session, &MovieLocator::located);
    int answers = 0;
    for (int i = 0; i < count; ++i) {
        session.locate(port, QPoint(10 + i, 10));
        if (waitUntil([&] { return located.count() > answers; }, 10 * DevToolsSession::kAnswerMs))
            ++answers;
    }
    return answers;
}

/// Keeps asking until the browser has seen more than `sockets` sessions opened.
bool reopened(DevToolsSession& session, const FakeDevTools& browser, int sockets)
{
    return waitUntil([&] {
        session.locate(browser.port(), QPoint(5, 5));
        return browser.socketsOpened() > sockets;
    });
}

} // namespace

TEST(BrowserConnection, AnUnansweredCallOrAFloodOfEventsNeverWedgesTheSession)
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
