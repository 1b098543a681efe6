#include "devtoolssession.h"

#include "browserconnection.h"
#include "pagescripts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>

#include <algorithm>
#include <utility>

// --- the connection -----------------------------------------------------------------------

/// The browser's DevTools endpoint: its socket named by /json/version, and every target it has
/// told of once the socket is open.
class DevToolsConnection final : public BrowserConnection
{
public:
    using BrowserConnection::BrowserConnection;

    /// The body of a reply from the endpoint's HTTP side, or nothing when it failed, went past
    /// kMaxMessageBytes or the connection closed meanwhile.
    void fetchJson(const QString& path, std::function<void(const QByteArray&)> done)
    {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path)));
        request.setTransferTimeout(kConnectMs);
        QNetworkReply* reply = network().get(request);
        auto finish = std::make_shared<std::function<void(const QByteArray&)>>(std::move(done));
        connect(reply, &QNetworkReply::finished, this, [reply, finish] {
            reply->deleteLater();
            if (*finish)
                std::exchange(*finish, nullptr)(
                    reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray());
        });
        // A reply that never ends must not grow without end: past the bound it is no browser's.
        connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received) {
            if (received > kMaxMessageBytes)
                reply->abort();
        });
        // Read no longer than the connection it belongs to lives.
        connect(this, &BrowserConnection::closed, reply, &QNetworkReply::abort);
    }

protected:
    void findSocket(quint16 port) override
    {
        fetchJson(QStringLiteral("/json/version"), [this, port](const QByteArray& body) {
            if (port != this->port() || state() != State::Opening)
                return; // an answer for a browser since left
            const QString path = QUrl(QJsonDocument::fromJson(body)
                                          .object()
                                          .value(QStringLiteral("webSocketDebuggerUrl"))
                                          .toString())
                                     .path();
            if (!path.startsWith(QStringLiteral("/devtools/browser/")) ||
                path.contains(QStringLiteral(".."))) {
                fail();
                return;
            }
            openSocket(loopbackUrl(path));
        });
    }

    void greet() override
    {
        // The browser tells of every target it has, then of each one that comes, changes or goes.
        call(QStringLiteral("Target.setDiscoverTargets"), {{QStringLiteral("discover"), true}},
             [this](const QJsonObject&) { becomeReady(); });
    }
};

namespace {

bool isWatchedPage(const QJsonObject& targetInfo)
{
    const QString url = targetInfo.value(QStringLiteral("url")).toString();
    return targetInfo.value(QStringLiteral("type")).toString() == u"page" &&
           !url.startsWith(QStringLiteral("devtools://")) &&
           !url.startsWith(QStringLiteral("chrome-extension://"));
}

QJsonObject onPage(const QString& session)
{
    return {{QStringLiteral("sessionId"), session}};
}

/// Whether a page calls itself the visible one of its window, and its address.
const char kVisibilityScript[] =
    R"JS(({visible: document.visibilityState === "visible", url: location.href}))JS";

} // namespace

/// One question about the movie under a point: the pages still to answer it, and the best
/// visible page so far.
struct DevToolsSession::Round
{
    QPoint screen;
    int waiting = 0;
    bool settled = false;  ///< a page was chosen or the answer given
    bool askedAll = false; ///< every page was asked, not only the last visible one
    QString fallback;      ///< a visible page whose viewport does not hold the point
    QJsonObject fallbackMetrics;
};

/// One question about the visible tab, answered once: by the pages, or empty at its deadline.
struct DevToolsSession::TabQuestion
{
    QPointer<QObject> context;
    TabAnswer answer;
    int waiting = 0;
    bool answered = false;

    void give(const QString& session, const QString& url)
    {
        if (std::exchange(answered, true) || !context)
            return;
        answer(session, url);
    }
};

DevToolsSession::DevToolsSession(QObject* parent)
    : BrowserSession(parent)
    , m_connection(new DevToolsConnection(this))
{
    connect(m_connection, &BrowserConnection::ready, this, &DevToolsSession::connectionReady);
    connect(m_connection, &BrowserConnection::closed, this, &DevToolsSession::connectionClosed);
    connect(
        m_connection, &BrowserConnection::event, this,
        [this](const QString& method, const QJsonObject& params) { handleEvent(method, params); });
    m_answerDeadline.setSingleShot(true);
    connect(&m_answerDeadline, &QTimer::timeout, this, &DevToolsSession::deadlinePassed);
}

DevToolsSession::~DevToolsSession()
{
    m_connection->disconnect(this);
}

bool DevToolsSession::isReady() const
{
    return m_connection->isReady();
}

void DevToolsSession::connectionReady()
{
    runSettledWaiters();
    startNext();
}

void DevToolsSession::connectionClosed()
{
    m_pages.clear();
    m_visibleSession.clear();
    m_visibleMetrics = {};
    for (const auto& then : std::exchange(m_settledWaiters, {}))
        then(false);
    // A waiting point hears "no movie", once whoever closed the connection is done.
    QTimer::singleShot(0, this, &DevToolsSession::startNext);
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
    m_connection->call(QStringLiteral("Target.attachToTarget"),
                       {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}},
                       [this, targetId](const QJsonObject& result) {
                           const QString session =
                               result.value(QStringLiteral("sessionId")).toString();
                           if (session.isEmpty())
                               m_pages.remove(targetId);
                           else if (m_pages.contains(targetId))
                               m_pages[targetId] = session;
                           runSettledWaiters();
                           startNext();
                       });
}

bool DevToolsSession::isAttaching() const
{
    return std::any_of(m_pages.cbegin(), m_pages.cend(),
                       [](const QString& session) { return session.isEmpty(); });
}

void DevToolsSession::evaluate(const QString& session, const QString& expression,
                               std::function<void(const QJsonValue&)> reply)
{
    m_connection->call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}},
        [reply = std::move(reply)](const QJsonObject& result) {
            // A thrown script counts as no answer.
            if (result.contains(QStringLiteral("exceptionDetails")))
                reply(QJsonValue(QJsonValue::Undefined));
            else
                reply(result.value(QStringLiteral("result"))
                          .toObject()
                          .value(QStringLiteral("value")));
        },
        onPage(session));
}

// --- the visible tab ----------------------------------------------------------------------

void DevToolsSession::GetAddressBarText(quint16 port, QObject* context, AddressAnswer answer)
{
    askVisibleTab(port, context, [answer = std::move(answer)](const QString&, const QString& url) {
        answer(url.left(kAddressLimit));
    });
}

void DevToolsSession::evaluateInVisibleTab(quint16 port, const QString& expression,
                                           QObject* context, ValueAnswer answer)
{
    askVisibleTab(port, context,
                  [this, expression, context = QPointer<QObject>(context),
                   answer = std::move(answer)](const QString& session, const QString&) {
                      if (session.isEmpty()) {
                          answer(QJsonValue(QJsonValue::Undefined));
                          return;
                      }
                      evaluate(session, expression, [context, answer](const QJsonValue& value) {
                          if (context)
                              answer(value);
                      });
                  });
}

void DevToolsSession::evaluateInEveryTab(quint16 port, const QString& expression, QObject* context,
                                         ValuesAnswer answer)
{
    struct Gathering
    {
        QPointer<QObject> context;
        ValuesAnswer answer;
        QJsonArray values;
        int waiting = 0;
        void give()
        {
            if (context && answer)
                std::exchange(answer, nullptr)(values);
        }
    };
    auto gathering = std::make_shared<Gathering>(Gathering{context, std::move(answer), {}, 0});
    QTimer::singleShot(kTabAnswerMs, this, [gathering] { gathering->give(); });
    if (port == 0 || m_connection->open(port) == BrowserConnection::State::Failed) {
        QTimer::singleShot(0, this, [gathering] { gathering->give(); });
        return;
    }
    whenSettled([this, gathering, expression](bool ready) {
        const QStringList sessions = ready ? m_pages.values() : QStringList();
        gathering->waiting = static_cast<int>(sessions.size());
        if (sessions.isEmpty())
            gathering->give();
        for (const QString& session : sessions) {
            evaluate(session, expression, [gathering](const QJsonValue& value) {
                if (!value.isUndefined())
                    gathering->values.append(value);
                if (--gathering->waiting == 0)
                    gathering->give();
            });
        }
    });
}

void DevToolsSession::askVisibleTab(quint16 port, QObject* context, TabAnswer answer)
{
    auto question = std::make_shared<TabQuestion>();
    question->context = context;
    question->answer = std::move(answer);
    // However the browser behaves, the asker hears within the deadline, and never before it
    // has returned.
    QTimer::singleShot(kTabAnswerMs, this, [question] { question->give({}, {}); });
    if (port == 0 || m_connection->open(port) == BrowserConnection::State::Failed) {
        QTimer::singleShot(0, this, [question] { question->give({}, {}); });
        return;
    }
    whenSettled([this, question](bool ready) {
        if (ready)
            findVisibleTab(question);
        else
            question->give({}, {});
    });
}

void DevToolsSession::whenSettled(std::function<void(bool ready)> then)
{
    m_settledWaiters.append(std::move(then));
    if (m_connection->isReady() && !isAttaching())
        QTimer::singleShot(0, this, &DevToolsSession::runSettledWaiters);
}

void DevToolsSession::runSettledWaiters()
{
    if (!m_connection->isReady() || isAttaching())
        return;
    for (const auto& then : std::exchange(m_settledWaiters, {}))
        then(true);
}

void DevToolsSession::findVisibleTab(const std::shared_ptr<TabQuestion>& question)
{
    const QStringList sessions = m_pages.values();
    if (sessions.isEmpty()) {
        question->give({}, {});
        return;
    }
    question->waiting = static_cast<int>(sessions.size());
    for (const QString& session : sessions) {
        evaluate(session, QString::fromLatin1(kVisibilityScript),
                 [this, question, session](const QJsonValue& value) {
                     --question->waiting;
                     const QJsonObject page = value.toObject();
                     if (page.value(QStringLiteral("visible")).toBool())
                         question->give(session, page.value(QStringLiteral("url")).toString());
                     else if (question->waiting == 0 && !question->answered)
                         takeFirstListedTab(question);
                 });
    }
}

void DevToolsSession::takeFirstListedTab(const std::shared_ptr<TabQuestion>& question)
{
    // A browser covered by another window (Clip Vault's own, usually) calls every tab hidden.
    // It lists its pages most recently active first: the first is the tab the user last
    // looked at.
    m_connection->fetchJson(QStringLiteral("/json/list"), [this, question](const QByteArray& body) {
        for (const QJsonValue& target : QJsonDocument::fromJson(body).array()) {
            const QJsonObject page = target.toObject();
            const QString session = m_pages.value(page.value(QStringLiteral("id")).toString());
            if (!session.isEmpty()) {
                question->give(session, page.value(QStringLiteral("url")).toString());
                return;
            }
        }
        question->give({}, {});
    });
}

// --- the movie under a point ---------------------------------------------------------------

void DevToolsSession::FindMovieAtPoint(quint16 port, QPoint screen)
{
    m_connection->open(port);
    m_pending = screen;
    startNext();
}

void DevToolsSession::PauseMovieAtPoint(QPoint screen)
{
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(m_visibleMetrics);
    if (!m_connection->isReady() || m_visibleSession.isEmpty() || !geometry)
        return;
    evaluate(m_visibleSession, PageScripts::findMovie(geometry->screenToCss(screen), true),
             [](const QJsonValue&) {});
}

void DevToolsSession::startNext()
{
    if (m_round || !m_pending)
        return;
    const BrowserConnection::State state = m_connection->open(m_connection->port());
    // A page being attached (the browser has just told of it) is waited for: it may well be
    // the one under the pointer.
    if (state == BrowserConnection::State::Opening ||
        (state == BrowserConnection::State::Ready && isAttaching())) {
        waitForSession(); // asked once the session is ready, or answered when it fails
        return;
    }
    auto round = std::make_shared<Round>();
    round->screen = *std::exchange(m_pending, std::nullopt);
    m_round = round;
    m_repliesWhenAsked = m_connection->repliesHeard();
    m_answerDeadline.start(kAnswerMs);
    QStringList sessions;
    if (state == BrowserConnection::State::Ready)
        sessions = m_pages.values();
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
                 [this, round, session](const QJsonValue& metrics) {
                     metricsArrived(round, session, metrics.toObject());
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
        QStringList sessions = m_pages.values();
        sessions.removeAll(session);
        sessions.removeAll(QString());
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
    if (!PageScripts::knowsOrigin(metrics)) {
        // The page has seen no pointer move yet, and its frame sizes only estimate where its
        // viewport lies. A move to the point (where the pointer is) tells it exactly, and the
        // answer is then the same whoever asks first.
        const QPointF css = PageScripts::geometryOf(metrics)->screenToCss(round->screen);
        m_connection->call(
            QStringLiteral("Input.dispatchMouseEvent"),
            {{QStringLiteral("type"), QStringLiteral("mouseMoved")},
             {QStringLiteral("x"), css.x()},
             {QStringLiteral("y"), css.y()}},
            [this, round, session, metrics](const QJsonObject&) {
                evaluate(session, PageScripts::metrics(),
                         [this, round, session, metrics](const QJsonValue& moved) {
                             const bool told =
                                 PageScripts::geometryOf(moved.toObject()).has_value();
                             findAt(round, session, told ? moved.toObject() : metrics);
                         });
            },
            onPage(session));
        return;
    }
    findAt(round, session, metrics);
}

void DevToolsSession::findAt(const std::shared_ptr<Round>& round, const QString& session,
                             const QJsonObject& metrics)
{
    m_visibleSession = session;
    m_visibleMetrics = metrics;
    m_pageUrl = metrics.value(QStringLiteral("url")).toString();
    const ViewportGeometry geometry = *PageScripts::geometryOf(metrics);
    evaluate(session, PageScripts::findMovie(geometry.screenToCss(round->screen), false),
             [this, round, geometry](const QJsonValue& hit) {
                 answer(round, PageScripts::movieOf(hit.toObject(), geometry));
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
    // A browser that said nothing at all for the whole question is hung: the connection is
    // dropped and opened again later.
    if (m_connection->repliesHeard() == m_repliesWhenAsked)
        m_connection->fail();
    answer(round, std::nullopt);
}
