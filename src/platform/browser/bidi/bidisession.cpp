#include "bidisession.h"

#include "bidiconnection.h"
#include "bidicontexts.h"
#include "gathering.h"
#include "pagescripts.h"

#include <QJsonArray>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

BidiSession::BidiSession(QObject* parent)
    : BrowserSession(parent)
    , m_connection(new BidiConnection(this))
    , m_point(new MoviePointQuestion(*this, *m_connection, BrowserConnection::kConnectMs, this))
{
    connect(m_point, &MoviePointQuestion::located, this, &BrowserSession::located);
    connect(m_connection, &BrowserConnection::event, this,
            [this](const QString& method, const QJsonObject& params) {
                m_network.handleEvent(method, params);
            });
    connect(m_connection, &BrowserConnection::ready, m_point, &MoviePointQuestion::sessionChanged);
    connect(m_connection, &BrowserConnection::closed, this, [this] {
        m_network.clear();
        m_point->forgetPages();
        m_point->sessionChanged();
    });
}

BidiSession::~BidiSession()
{
    m_connection->disconnect(this);
    m_connection->disconnect(m_point);
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

// --- questions ----------------------------------------------------------------------------

void BidiSession::GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                                    AddressAnswer answer)
{
    BidiContexts::visibleTab(
        *m_connection, browser.port, context, [answer = std::move(answer)](const QJsonObject& tab) {
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
    BidiContexts::visibleTab(
        *m_connection, browser.port, this, [this, gathering](const QJsonObject& tab) {
            const QList<QJsonObject> contexts = BidiContexts::contextsOf(tab);
            if (tab.isEmpty()) {
                gathering->give();
                return;
            }
            gathering->waiting = static_cast<int>(contexts.size());
            QStringList ids;
            for (const QJsonObject& context : contexts)
                ids << BidiContexts::idOf(context);
            for (const QJsonObject& context : contexts) {
                m_connection->evaluate(
                    BidiContexts::idOf(context), PageScripts::tabMovies(),
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
                        for (const QString& url : m_network.moviesOf(ids))
                            AddTabMovie(gathering->collected, url, QString(),
                                        QStringLiteral("network"));
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

// --- the movie under a point ---------------------------------------------------------------

void BidiSession::FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen)
{
    m_connection->open(browser.port);
    m_point->ask(screen);
}

void BidiSession::PauseMovieAtPoint(QPoint screen)
{
    m_point->pause(screen);
}

PointDocuments::Readiness BidiSession::prepare()
{
    return readinessOf(m_connection->open(m_connection->port()));
}

void BidiSession::pageAt(QPoint, Page then)
{
    BidiContexts::visibleTab(*m_connection, m_connection->port(), this,
                             [this, then = std::move(then)](const QJsonObject& tab) {
                                 m_pointTab = tab;
                                 const QString page = BidiContexts::idOf(tab);
                                 if (page.isEmpty()) {
                                     then({}, {});
                                     return;
                                 }
                                 m_connection->evaluate(page, PageScripts::metrics(),
                                                        [page, then](const QJsonValue& metrics) {
                                                            then(page, metrics.toObject());
                                                        });
                             });
}

void BidiSession::evaluate(const QString& document, const QString& expression, Value reply)
{
    m_connection->evaluate(document, expression, std::move(reply));
}

void BidiSession::movePointer(const QString& page, QPointF css, std::function<void()> done)
{
    const QJsonObject move{{QStringLiteral("type"), QStringLiteral("pointerMove")},
                           {QStringLiteral("x"), std::max(0, int(std::lround(css.x())))},
                           {QStringLiteral("y"), std::max(0, int(std::lround(css.y())))}};
    m_connection->call(QStringLiteral("input.performActions"),
                       {{QStringLiteral("context"), page},
                        {QStringLiteral("actions"),
                         QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("pointer")},
                                                {QStringLiteral("id"), QStringLiteral("clipvault")},
                                                {QStringLiteral("actions"), QJsonArray{move}}}}}},
                       [done = std::move(done)](const QJsonObject&) { done(); });
}

QString BidiSession::frameDocument(const QString& parent, const QString& src) const
{
    return BidiContexts::frameOf(m_pointTab, parent, src);
}
