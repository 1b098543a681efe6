#include "devtoolssession.h"

#include "devtoolsclient.h"
#include "pagescripts.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebSocket>

#include <algorithm>

/// One question: a point, the pages still to answer it, and the best visible page so far.
struct DevToolsSession::Round
{
    QPoint screen;
    int waiting = 0;
    bool settled = false;  ///< a page was chosen or the answer given
    bool askedAll = false; ///< every page was asked, not only the last visible one
    QString fallback;      ///< a visible page whose viewport does not hold the point
    QJsonObject fallbackMetrics;
};

namespace {

bool isWatchedPage(const QJsonObject& targetInfo)
{
    const QString url = targetInfo.value(QStringLiteral("url")).toString();
    return targetInfo.value(QStringLiteral("type")).toString() == u"page" &&
           !url.startsWith(QStringLiteral("devtools://")) &&
           !url.startsWith(QStringLiteral("chrome-extension://"));
}

} // namespace

DevToolsSession::DevToolsSession(QObject* parent)
    : MovieLocator(parent)
    , m_network(new QNetworkAccessManager(this))
{
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_connectDeadline.setSingleShot(true);
    connect(&m_connectDeadline, &QTimer::timeout, this, [this] {
        if (m_state == State::Discovering || m_state == State::Connecting)
            fail();
    });
    m_answerDeadline.setSingleShot(true);
    connect(&m_answerDeadline, &QTimer::timeout, this, &DevToolsSession::deadlinePassed);
    m_callSweep.setInterval(kCallMs / 4);
    connect(&m_callSweep, &QTimer::timeout, this, &DevToolsSession::checkCallDeadlines);
}

DevToolsSession::~DevToolsSession()
{
    close();
}

void DevToolsSession::locate(quint16 port, QPoint screen)
{
    if (port != m_port) {
        close();
        m_port = port;
    }
    m_pending = screen;
    startNext();
}

void DevToolsSession::pause(QPoint screen)
{
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(m_visibleMetrics);
    if (m_state != State::Ready || m_visibleSession.isEmpty() || !geometry)
        return;
    evaluate(m_visibleSession, PageScripts::findMovie(geometry->screenToCss(screen), true),
             [](const QJsonObject&) {});
}

// --- the connection -----------------------------------------------------------------------

void DevToolsSession::open(quint16 port)
{
    m_port = port;
    m_state = State::Discovering;
    m_connectDeadline.start(kConnectMs);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/json/version").arg(port)));
    request.setTransferTimeout(kConnectMs);
    QNetworkReply* reply = m_network->get(request);
    m_discovery = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { discovered(reply); });
    // A reply that never ends must not grow without end: past the bound it is no browser's.
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received) {
        if (received > kMaxMessageBytes && reply == m_discovery)
            fail();
    });
}

void DevToolsSession::discovered(QNetworkReply* reply)
{
    reply->deleteLater();
    if (reply != m_discovery || m_state != State::Discovering || reply->url().port() != m_port)
        return; // an answer for a browser since left
    m_discovery.clear();
    const QString advertised = QJsonDocument::fromJson(reply->readAll())
                                   .object()
                                   .value(QStringLiteral("webSocketDebuggerUrl"))
                                   .toString();
    // Only ever the debugging port on this machine, whatever host the browser names.
    const QUrl socketUrl = DevToolsClient(m_port).socketUrl(advertised);
    if (reply->error() != QNetworkReply::NoError || socketUrl.isEmpty() ||
        !socketUrl.path().startsWith(QStringLiteral("/devtools/browser/"))) {
        fail();
        return;
    }
    m_state = State::Connecting;
    // No Origin header: the browser refuses foreign origins unless told to allow them.
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    m_socket->setReadBufferSize(kMaxMessageBytes);
    connect(m_socket, &QWebSocket::connected, this, &DevToolsSession::connected);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &DevToolsSession::messageReceived);
    connect(m_socket, &QWebSocket::disconnected, this, [this] {
        if (m_state != State::Closed)
            fail();
    });
    m_socket->open(socketUrl);
}

void DevToolsSession::connected()
{
    // The browser tells of every target it has, then of each one that comes, changes or goes.
    call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}}, {},
         [this](const QJsonObject&) {
             // Also called, with nothing, when the session closes before the browser answered:
             // then it stays closed.
             if (m_state != State::Connecting)
                 return;
             m_connectDeadline.stop();
             m_state = State::Ready;
             startNext();
         });
}

void DevToolsSession::close(State after)
{
    // The state comes first: the calls answered below may ask again, and must find the
    // session as it will be, not open it anew in the middle of its closing.
    m_state = after;
    m_connectDeadline.stop();
    m_callSweep.stop();
    if (QNetworkReply* discovery = m_discovery.data()) {
        m_discovery.clear();
        discovery->disconnect(this);
        discovery->abort();
        discovery->deleteLater();
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_pages.clear();
    m_visibleSession.clear();
    m_visibleMetrics = {};
    // Whoever waits on a call hears that it failed.
    const QHash<int, PendingCall> calls = std::exchange(m_calls, {});
    for (const PendingCall& call : calls)
        call.reply({});
}

void DevToolsSession::checkCallDeadlines()
{
    const bool overdue = std::any_of(m_calls.cbegin(), m_calls.cend(), [](const PendingCall& call) {
        return call.sent.hasExpired(kCallMs);
    });
    if (overdue)
        fail(); // a browser that leaves a call unanswered may leave every later one too
    else if (m_calls.isEmpty())
        m_callSweep.stop();
}

void DevToolsSession::fail()
{
    m_failedAt.start();
    close(State::Failed);
    startNext(); // a waiting point hears "no movie"
}

// --- messages -----------------------------------------------------------------------------

void DevToolsSession::call(const QString& method, const QJsonObject& params,
                           const QString& sessionId, Reply reply)
{
    if (!m_socket) {
        reply({});
        return;
    }
    const int id = m_nextId++;
    QJsonObject message{{QStringLiteral("id"), id},
                        {QStringLiteral("method"), method},
                        {QStringLiteral("params"), params}};
    if (!sessionId.isEmpty())
        message.insert(QStringLiteral("sessionId"), sessionId);
    PendingCall pending{std::move(reply), {}};
    pending.sent.start();
    m_calls.insert(id, std::move(pending));
    if (!m_callSweep.isActive())
        m_callSweep.start();
    m_socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void DevToolsSession::evaluate(const QString& sessionId, const QString& expression, Reply reply)
{
    call(QStringLiteral("Runtime.evaluate"),
         {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}},
         sessionId, [reply = std::move(reply)](const QJsonObject& result) {
             // A thrown script counts as no answer; a value that is no object as an empty one.
             if (result.contains(QStringLiteral("exceptionDetails")))
                 reply({});
             else
                 reply(result.value(QStringLiteral("result"))
                           .toObject()
                           .value(QStringLiteral("value"))
                           .toObject());
         });
}

void DevToolsSession::messageReceived(const QString& text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (!message.contains(QStringLiteral("id"))) {
        // Events do not count as the browser being alive: one that floods them while it
        // leaves the calls unanswered is hung all the same.
        handleEvent(message.value(QStringLiteral("method")).toString(),
                    message.value(QStringLiteral("params")).toObject());
        return;
    }
    const PendingCall call = m_calls.take(message.value(QStringLiteral("id")).toInt());
    if (call.reply) {
        m_heardSinceAsked = true;
        call.reply(message.value(QStringLiteral("result")).toObject());
    }
}

void DevToolsSession::handleEvent(const QString& method, const QJsonObject& params)
{
    if (method == u"Target.targetCreated" || method == u"Target.targetInfoChanged") {
        attach(params.value(QStringLiteral("targetInfo")).toObject());
    } else if (method == u"Target.targetDestroyed") {
        m_pages.remove(params.value(QStringLiteral("targetId")).toString());
    } else if (method == u"Target.detachedFromTarget") {
        const QString session = params.value(QStringLiteral("sessionId")).toString();
        m_pages.removeIf([&](auto page) { return page.value() == session; });
        if (m_visibleSession == session)
            m_visibleSession.clear();
    }
}

void DevToolsSession::attach(const QJsonObject& targetInfo)
{
    const QString targetId = targetInfo.value(QStringLiteral("targetId")).toString();
    if (!isWatchedPage(targetInfo) || m_pages.contains(targetId) || m_pages.size() >= kMaxPages)
        return;
    m_pages.insert(targetId, QString()); // attaching
    call(QStringLiteral("Target.attachToTarget"),
         {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}}, {},
         [this, targetId](const QJsonObject& result) {
             const QString session = result.value(QStringLiteral("sessionId")).toString();
             if (session.isEmpty())
                 m_pages.remove(targetId);
             else if (m_pages.contains(targetId))
                 m_pages[targetId] = session;
             startNext();
         });
}

// --- questions ----------------------------------------------------------------------------

void DevToolsSession::startNext()
{
    if (m_round || !m_pending)
        return;
    if (m_state == State::Failed && m_failedAt.elapsed() >= kRetryMs)
        m_state = State::Closed;
    if (m_state == State::Closed && m_port != 0)
        open(m_port);
    if (m_state == State::Discovering || m_state == State::Connecting) {
        waitForSession(); // asked once the session is ready, or answered when it fails
        return;
    }
    // A page being attached (the browser has just told of it) is waited for: it may well be
    // the one under the pointer.
    if (m_state == State::Ready &&
        std::any_of(m_pages.cbegin(), m_pages.cend(),
                    [](const QString& session) { return session.isEmpty(); })) {
        waitForSession();
        return;
    }
    auto round = std::make_shared<Round>();
    round->screen = *std::exchange(m_pending, std::nullopt);
    m_round = round;
    m_heardSinceAsked = false;
    m_answerDeadline.start(kAnswerMs);
    QStringList sessions;
    if (m_state == State::Ready) {
        for (const QString& session : std::as_const(m_pages)) {
            if (!session.isEmpty())
                sessions << session;
        }
    }
    if (sessions.contains(m_visibleSession)) {
        askPages(round, {m_visibleSession});
    } else {
        round->askedAll = true;
        askPages(round, sessions);
    }
}

void DevToolsSession::askPages(const std::shared_ptr<Round>& round, const QStringList& sessions)
{
    if (sessions.isEmpty()) {
        answer(round, std::nullopt);
        return;
    }
    round->waiting = static_cast<int>(sessions.size());
    for (const QString& session : sessions) {
        evaluate(session, PageScripts::metrics(),
                 [this, round, session](const QJsonObject& metrics) {
                     metricsArrived(round, session, metrics);
                 });
    }
}

void DevToolsSession::metricsArrived(const std::shared_ptr<Round>& round, const QString& session,
                                     const QJsonObject& metrics)
{
    --round->waiting;
    if (round->settled)
        return;
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(metrics);
    if (geometry && metrics.value(QStringLiteral("visible")).toBool()) {
        if (PageScripts::viewportOnScreen(metrics, *geometry).contains(round->screen)) {
            findIn(round, session, metrics);
            return;
        }
        if (round->fallback.isEmpty()) {
            round->fallback = session;
            round->fallbackMetrics = metrics;
        }
    }
    if (round->waiting > 0)
        return;
    if (!round->askedAll) {
        // The page last seen is hidden now, or elsewhere: every page is asked.
        round->askedAll = true;
        round->fallback.clear();
        QStringList sessions;
        for (const QString& other : std::as_const(m_pages)) {
            if (!other.isEmpty() && other != session)
                sessions << other;
        }
        if (!sessions.isEmpty()) {
            askPages(round, sessions);
            return;
        }
    }
    if (!round->fallback.isEmpty())
        findIn(round, round->fallback, round->fallbackMetrics);
    else
        answer(round, std::nullopt);
}

void DevToolsSession::findIn(const std::shared_ptr<Round>& round, const QString& session,
                             const QJsonObject& metrics)
{
    round->settled = true;
    m_visibleSession = session;
    m_visibleMetrics = metrics;
    m_pageUrl = metrics.value(QStringLiteral("url")).toString();
    const ViewportGeometry geometry = *PageScripts::geometryOf(metrics);
    evaluate(session, PageScripts::findMovie(geometry.screenToCss(round->screen), false),
             [this, round, geometry](const QJsonObject& hit) {
                 answer(round, PageScripts::movieOf(hit, geometry));
             });
}

void DevToolsSession::answer(const std::shared_ptr<Round>& round,
                             const std::optional<MovieAtPoint>& movie)
{
    if (m_round != round)
        return; // answered already, by the deadline
    round->settled = true;
    m_round.reset();
    m_answerDeadline.stop();
    emit located(round->screen, movie);
    startNext();
}

void DevToolsSession::waitForSession()
{
    // The point waits for the session, but no longer than a question would.
    if (!m_answerDeadline.isActive())
        m_answerDeadline.start(kAnswerMs);
}

void DevToolsSession::deadlinePassed()
{
    if (!m_round) {
        // A point that waited for the session all this time hears "no movie" now.
        if (const std::optional<QPoint> waiting = std::exchange(m_pending, std::nullopt))
            emit located(*waiting, std::nullopt);
        return;
    }
    const std::shared_ptr<Round> round = m_round;
    // A browser that said nothing at all for the whole question is hung: the session is dropped
    // and opened again later.
    if (!m_heardSinceAsked)
        fail();
    answer(round, std::nullopt);
}
