#include "bidisession.h"

#include "browserconnection.h"
#include "devtools/pagescripts.h"
#include "gathering.h"

#include <QJsonDocument>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <utility>

// --- the connection -----------------------------------------------------------------------

/// Firefox's BiDi socket at ws://127.0.0.1:PORT/session: a session asked for once it opens,
/// and what the contexts fetch subscribed to.
class BidiConnection final : public BrowserConnection
{
public:
    using BrowserConnection::BrowserConnection;

    bool refused() const { return m_refused; }

    /// Ends the session: Firefox keeps a session whose socket merely closed, and allows no
    /// other until it ends. `done` runs once it has.
    void end(std::function<void()> done)
    {
        if (!isReady()) {
            QTimer::singleShot(0, this, std::move(done));
            return;
        }
        m_ending = true;
        call(QStringLiteral("session.end"), {}, [this, done = std::move(done)](const QJsonObject&) {
            close();
            done();
        });
    }

protected:
    void findSocket(quint16) override { openSocket(loopbackUrl(QStringLiteral("/session"))); }

    bool farewell() override
    {
        // Closing without ending: the session is ended on the way out, as far as it reaches.
        if (!std::exchange(m_ending, false))
            call(QStringLiteral("session.end"), {}, [](const QJsonObject&) {});
        return true;
    }

    void greet() override
    {
        call(QStringLiteral("session.new"), {{QStringLiteral("capabilities"), QJsonObject()}},
             [this](const QJsonObject& result) {
                 if (state() != State::Opening)
                     return;
                 // Firefox allows one session: another holder keeps it from us.
                 m_refused = result.value(QStringLiteral("sessionId")).toString().isEmpty();
                 if (m_refused) {
                     fail();
                     return;
                 }
                 call(QStringLiteral("session.subscribe"),
                      {{QStringLiteral("events"),
                        QJsonArray{QStringLiteral("network.responseCompleted")}}},
                      [this](const QJsonObject&) { becomeReady(); });
             });
    }

private:
    bool m_refused = false;
    bool m_ending = false;
};

namespace {

/// The value a script gave as JSON text (the page scripts answer plain data); undefined for
/// none or a thrown script.
QJsonValue jsonOf(const QJsonObject& evaluated)
{
    const QJsonObject value = evaluated.value(QStringLiteral("result")).toObject();
    if (evaluated.value(QStringLiteral("type")).toString() != u"success" ||
        value.value(QStringLiteral("type")).toString() != u"string")
        return QJsonValue(QJsonValue::Undefined);
    const QString text = value.value(QStringLiteral("value")).toString();
    return QJsonDocument::fromJson(QByteArray("[") + text.toUtf8() + ']').array().first();
}

bool isFlashMovie(const QString& type, const QString& url)
{
    const QString path = QUrl(url).path();
    return type == u"application/x-shockwave-flash" || type == u"application/futuresplash" ||
           type == u"application/vnd.adobe.flash.movie" ||
           path.endsWith(QStringLiteral(".swf"), Qt::CaseInsensitive) ||
           path.endsWith(QStringLiteral(".spl"), Qt::CaseInsensitive);
}

/// A context and the frames in it, at every depth, at most `limit`.
QList<QJsonObject> contextsOf(const QJsonObject& tab, int limit = 64)
{
    QList<QJsonObject> contexts{tab};
    for (qsizetype i = 0; i < contexts.size() && contexts.size() < limit; ++i) {
        for (const QJsonValue& child : contexts[i].value(QStringLiteral("children")).toArray())
            contexts << child.toObject();
    }
    return contexts;
}

QString idOf(const QJsonObject& context)
{
    return context.value(QStringLiteral("context")).toString();
}

} // namespace

/// One question about the movie under a point.
struct BidiSession::Round
{
    QPoint screen;
    BrowserEndpoint browser;
    ViewportGeometry geometry;
};

BidiSession::BidiSession(QObject* parent)
    : BrowserSession(parent)
    , m_connection(new BidiConnection(this))
{
    connect(m_connection, &BrowserConnection::event, this,
            [this](const QString& method, const QJsonObject& params) {
                eventReceived(method, params);
            });
    connect(m_connection, &BrowserConnection::ready, this, &BidiSession::startNext);
    connect(m_connection, &BrowserConnection::closed, this, [this] {
        m_loaded.clear();
        QTimer::singleShot(0, this, &BidiSession::startNext);
    });
    m_answerDeadline.setSingleShot(true);
    connect(&m_answerDeadline, &QTimer::timeout, this, &BidiSession::deadlinePassed);
}

BidiSession::~BidiSession()
{
    m_connection->disconnect(this);
    m_connection->close();
}

void BidiSession::end(std::function<void()> done)
{
    m_connection->end(std::move(done));
}

bool BidiSession::sessionRefused() const
{
    return m_connection->refused();
}

void BidiSession::eventReceived(const QString& method, const QJsonObject& params)
{
    if (method != u"network.responseCompleted")
        return;
    const QJsonObject response = params.value(QStringLiteral("response")).toObject();
    const QString url = response.value(QStringLiteral("url")).toString();
    if (!isFlashMovie(response.value(QStringLiteral("mimeType")).toString().toLower(), url))
        return;
    m_loaded.append({params.value(QStringLiteral("context")).toString(), url});
    if (m_loaded.size() > kMaxLoaded)
        m_loaded.removeFirst();
}

void BidiSession::evaluate(const QString& context, const QString& expression,
                           std::function<void(const QJsonValue&)> reply)
{
    // Plain data crosses as JSON text: BiDi's own serialisation of objects is not needed.
    m_connection->call(
        QStringLiteral("script.evaluate"),
        {{QStringLiteral("expression"),
          QString(QStringLiteral("JSON.stringify(") + expression + u')')},
         {QStringLiteral("target"), QJsonObject{{QStringLiteral("context"), context}}},
         {QStringLiteral("awaitPromise"), false},
         {QStringLiteral("resultOwnership"), QStringLiteral("none")}},
        [reply = std::move(reply)](const QJsonObject& result) { reply(jsonOf(result)); });
}

void BidiSession::visibleTab(const BrowserEndpoint& browser, QObject* context, Tab then)
{
    auto found = std::make_shared<Gathering<QJsonObject>>();
    found->context = context;
    found->answer = std::move(then);
    QTimer::singleShot(kTabAnswerMs, this, [found] { found->give(); });
    const auto ask = [this, found] {
        m_connection->call(
            QStringLiteral("browsingContext.getTree"), {}, [this, found](const QJsonObject& tree) {
                const QJsonArray tabs = tree.value(QStringLiteral("contexts")).toArray();
                if (tabs.isEmpty()) {
                    found->give();
                    return;
                }
                // The tab that calls itself visible; else the first (a covered window calls
                // every tab hidden).
                found->collected = tabs.first().toObject();
                found->waiting = static_cast<int>(tabs.size());
                for (const QJsonValue& tab : tabs) {
                    evaluate(idOf(tab.toObject()), QStringLiteral("document.visibilityState"),
                             [found, tab](const QJsonValue& state) {
                                 if (state.toString() == u"visible") {
                                     found->collected = tab.toObject();
                                     found->give();
                                 } else {
                                     found->done();
                                 }
                             });
                }
            });
    };
    switch (m_connection->open(browser.port)) {
    case BrowserConnection::State::Ready:
        ask();
        break;
    case BrowserConnection::State::Opening: {
        // Once the session is there; a session that fails leaves the deadline to answer, and
        // the question is not asked of a later one.
        auto ready = std::make_shared<QMetaObject::Connection>();
        auto closed = std::make_shared<QMetaObject::Connection>();
        *ready = connect(m_connection, &BrowserConnection::ready, this, [ready, closed, ask] {
            QObject::disconnect(*ready);
            QObject::disconnect(*closed);
            ask();
        });
        *closed = connect(m_connection, &BrowserConnection::closed, this, [ready, closed] {
            QObject::disconnect(*ready);
            QObject::disconnect(*closed);
        });
        break;
    }
    case BrowserConnection::State::Closed:
    case BrowserConnection::State::Failed:
        QTimer::singleShot(0, this, [found] { found->give(); });
        break;
    }
}

// --- questions ----------------------------------------------------------------------------

void BidiSession::GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                                    AddressAnswer answer)
{
    visibleTab(browser, context, [answer = std::move(answer)](const QJsonObject& tab) {
        answer(tab.value(QStringLiteral("url")).toString().left(kAddressLimit));
    });
}

void BidiSession::FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                                MoviesAnswer answer)
{
    auto gathering = std::make_shared<Gathering<QList<TabMovie>>>();
    gathering->context = context;
    gathering->answer = std::move(answer);
    QTimer::singleShot(kTabAnswerMs, this, [gathering] { gathering->give(); });
    visibleTab(browser, this, [this, gathering](const QJsonObject& tab) {
        const QList<QJsonObject> contexts = contextsOf(tab);
        if (tab.isEmpty()) {
            gathering->give();
            return;
        }
        gathering->waiting = static_cast<int>(contexts.size());
        QStringList ids;
        for (const QJsonObject& context : contexts)
            ids << idOf(context);
        for (const QJsonObject& context : contexts) {
            evaluate(idOf(context), PageScripts::tabMovies(),
                     [this, gathering, ids](const QJsonValue& value) {
                         const QJsonObject document = value.toObject();
                         const QString frame = document.value(QStringLiteral("frame")).toString();
                         for (const QJsonValue& movie :
                              document.value(QStringLiteral("movies")).toArray())
                             AddTabMovie(
                                 gathering->collected,
                                 movie.toObject().value(QStringLiteral("url")).toString(), frame,
                                 movie.toObject().value(QStringLiteral("seenAs")).toString());
                         if (gathering->waiting > 1) {
                             --gathering->waiting;
                             return;
                         }
                         // Then what the tab's contexts fetched while the session watched.
                         for (const auto& [context, url] : std::as_const(m_loaded)) {
                             if (ids.contains(context))
                                 AddTabMovie(gathering->collected, url, QString(),
                                             QStringLiteral("network"));
                         }
                         gathering->done();
                     });
        }
    });
}

void BidiSession::FetchLoadedMovie(const BrowserEndpoint&, const QString&, QObject* context,
                                   BodyAnswer answer)
{
    QTimer::singleShot(0, context, [answer = std::move(answer)] { answer({}); });
}

void BidiSession::FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen)
{
    m_pending = std::make_pair(browser, screen);
    startNext();
}

void BidiSession::PauseMovieAtPoint(QPoint screen)
{
    if (!m_lastHit || m_lastHit->screen != screen || !m_connection->isReady())
        return;
    evaluate(m_lastHit->context, PageScripts::findMovie(m_lastHit->css, true),
             [](const QJsonValue&) {});
}

void BidiSession::startNext()
{
    if (m_round || !m_pending)
        return;
    if (m_connection->open(m_pending->first.port) == BrowserConnection::State::Opening) {
        // The point waits for the session (asked once it is ready), but not for ever.
        if (!m_answerDeadline.isActive())
            m_answerDeadline.start(BrowserConnection::kConnectMs);
        return;
    }
    auto round = std::make_shared<Round>();
    std::tie(round->browser, round->screen) = *std::exchange(m_pending, std::nullopt);
    m_round = round;
    m_repliesWhenAsked = m_connection->repliesHeard();
    m_answerDeadline.start(kAnswerMs);
    visibleTab(round->browser, this, [this, round](const QJsonObject& tab) {
        if (tab.isEmpty())
            answer(round, std::nullopt);
        else
            findIn(round, tab);
    });
}

void BidiSession::findIn(const std::shared_ptr<Round>& round, const QJsonObject& tab)
{
    const QString context = idOf(tab);
    evaluate(context, PageScripts::metrics(), [this, round, tab, context](const QJsonValue& value) {
        const QJsonObject metrics = value.toObject();
        const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(metrics);
        if (m_round != round || !geometry) {
            answer(round, std::nullopt);
            return;
        }
        m_pageUrl = metrics.value(QStringLiteral("url")).toString();
        round->geometry = *geometry;
        const QPointF css = geometry->screenToCss(round->screen);
        if (PageScripts::knowsOrigin(metrics)) {
            findInContext(round, tab, css, {}, 0);
            return;
        }
        // As with Chromium: a page that has seen no pointer move is told the point first, so
        // that its viewport's place is exact.
        const QJsonObject move{{QStringLiteral("type"), QStringLiteral("pointerMove")},
                               {QStringLiteral("x"), std::max(0, int(std::lround(css.x())))},
                               {QStringLiteral("y"), std::max(0, int(std::lround(css.y())))}};
        m_connection->call(
            QStringLiteral("input.performActions"),
            {{QStringLiteral("context"), context},
             {QStringLiteral("actions"),
              QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("pointer")},
                                     {QStringLiteral("id"), QStringLiteral("clipvault")},
                                     {QStringLiteral("actions"), QJsonArray{move}}}}}},
            [this, round, tab, context](const QJsonObject&) {
                evaluate(context, PageScripts::metrics(),
                         [this, round, tab](const QJsonValue& moved) {
                             if (const auto exact = PageScripts::geometryOf(moved.toObject()))
                                 round->geometry = *exact;
                             findInContext(round, tab, round->geometry.screenToCss(round->screen),
                                           {}, 0);
                         });
            });
    });
}

void BidiSession::findInContext(const std::shared_ptr<Round>& round, const QJsonObject& context,
                                QPointF css, QPointF offset, int depth)
{
    constexpr int kMaxDepth = 4;
    evaluate(idOf(context), PageScripts::findMovie(css, false),
             [this, round, context, css, offset, depth](const QJsonValue& value) {
                 QJsonObject hit = value.toObject();
                 if (hit.isEmpty()) {
                     answer(round, std::nullopt);
                     return;
                 }
                 const QJsonObject frame = hit.value(QStringLiteral("crossFrame")).toObject();
                 if (frame.isEmpty()) {
                     hit.insert(QStringLiteral("left"),
                                hit.value(QStringLiteral("left")).toDouble() + offset.x());
                     hit.insert(QStringLiteral("top"),
                                hit.value(QStringLiteral("top")).toDouble() + offset.y());
                     const std::optional<MovieAtPoint> movie =
                         PageScripts::movieOf(hit, round->geometry);
                     if (movie)
                         m_lastHit = Hit{round->screen, idOf(context), css};
                     answer(round, movie);
                     return;
                 }
                 // A frame of another site: its own context, found among the frames.
                 const QString src = frame.value(QStringLiteral("src")).toString();
                 const QJsonArray children = context.value(QStringLiteral("children")).toArray();
                 QJsonObject inner;
                 for (const QJsonValue& child : children) {
                     if (child.toObject().value(QStringLiteral("url")).toString() == src)
                         inner = child.toObject();
                 }
                 if (inner.isEmpty() && children.size() == 1)
                     inner = children.first().toObject();
                 if (inner.isEmpty() || depth >= kMaxDepth) {
                     answer(round, std::nullopt);
                     return;
                 }
                 const QPointF shift(frame.value(QStringLiteral("left")).toDouble(),
                                     frame.value(QStringLiteral("top")).toDouble());
                 findInContext(round, inner, css - shift, offset + shift, depth + 1);
             });
}

void BidiSession::answer(const std::shared_ptr<Round>& round,
                         const std::optional<MovieAtPoint>& movie)
{
    if (m_round != round)
        return; // answered already, by the deadline
    m_round.reset();
    m_answerDeadline.stop();
    emit located(round->screen, movie);
    startNext();
}

void BidiSession::deadlinePassed()
{
    if (!m_round) {
        // A point that waited for the session all this time hears "no movie" now.
        if (const auto waiting = std::exchange(m_pending, std::nullopt))
            emit located(waiting->second, std::nullopt);
        return;
    }
    const std::shared_ptr<Round> round = m_round;
    // A browser that said nothing at all for the whole question is hung.
    if (m_connection->repliesHeard() == m_repliesWhenAsked &&
        m_connection->state() == BrowserConnection::State::Ready)
        m_connection->fail();
    answer(round, std::nullopt);
}
