#include "pointquestion.h"

#include "browserconnection.h"
#include "pagescripts.h"

#include <utility>

/// One question about the movie under a point.
struct MoviePointQuestion::Round
{
    QPoint screen;
    QString pageUrl;
    ViewportGeometry geometry; ///< of the page the movie is looked for in
};

PointDocuments::Readiness PointDocuments::readinessOf(BrowserConnection::State state)
{
    switch (state) {
    case BrowserConnection::State::Opening:
        return Readiness::Waiting;
    case BrowserConnection::State::Ready:
        return Readiness::Ready;
    case BrowserConnection::State::Closed:
    case BrowserConnection::State::Failed:
        break;
    }
    return Readiness::Unreachable;
}

MoviePointQuestion::MoviePointQuestion(PointDocuments& documents, BrowserConnection& connection,
                                       int waitMs, QObject* parent)
    : QObject(parent)
    , m_documents(documents)
    , m_connection(connection)
    , m_waitMs(waitMs)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &MoviePointQuestion::deadlinePassed);
}

MoviePointQuestion::~MoviePointQuestion() = default;

void MoviePointQuestion::ask(QPoint screen)
{
    m_pending = screen;
    startNext();
}

void MoviePointQuestion::sessionChanged()
{
    // Once whoever opened or closed the connection is done.
    QTimer::singleShot(0, this, &MoviePointQuestion::startNext);
}

void MoviePointQuestion::forgetPages()
{
    m_lastHit.reset();
    m_lastPage.reset();
}

void MoviePointQuestion::pause(QPoint screen)
{
    if (!m_connection.isReady())
        return;
    // In the document the movie was found in, a frame of another site's included.
    if (m_lastHit && m_lastHit->screen == screen)
        m_documents.evaluate(m_lastHit->document, PageScripts::findMovie(m_lastHit->css, true),
                             [](const QJsonValue&) {});
    else if (m_lastPage)
        m_documents.evaluate(m_lastPage->document,
                             PageScripts::findMovie(m_lastPage->geometry.screenToCss(screen), true),
                             [](const QJsonValue&) {});
}

void MoviePointQuestion::startNext()
{
    if (m_round || !m_pending)
        return;
    const PointDocuments::Readiness readiness = m_documents.prepare();
    if (readiness == PointDocuments::Readiness::Waiting) {
        // The point waits for the session (asked once it is ready), but not for ever.
        if (!m_deadline.isActive())
            m_deadline.start(m_waitMs);
        return;
    }
    auto round = std::make_shared<Round>();
    round->screen = *std::exchange(m_pending, std::nullopt);
    m_round = round;
    m_repliesWhenAsked = m_connection.repliesHeard();
    m_deadline.start(BrowserSession::kAnswerMs);
    if (readiness == PointDocuments::Readiness::Unreachable) {
        answer(round, std::nullopt);
        return;
    }
    m_documents.pageAt(round->screen,
                       [this, round](const QString& page, const QJsonObject& metrics) {
                           pageFound(round, page, metrics);
                       });
}

void MoviePointQuestion::pageFound(const std::shared_ptr<Round>& round, const QString& page,
                                   const QJsonObject& metrics)
{
    const std::optional<ViewportGeometry> geometry = PageScripts::geometryOf(metrics);
    if (m_round != round || page.isEmpty() || !geometry) {
        answer(round, std::nullopt);
        return;
    }
    if (PageScripts::knowsOrigin(metrics)) {
        findAt(round, page, metrics);
        return;
    }
    // The page has seen no pointer move yet, and its frame sizes only estimate where its
    // viewport lies. A move to the point (where the pointer is) tells it exactly, and the
    // answer is then the same whoever asks first.
    m_documents.movePointer(
        page, geometry->screenToCss(round->screen), [this, round, page, metrics] {
            m_documents.evaluate(page, PageScripts::metrics(),
                                 [this, round, page, metrics](const QJsonValue& moved) {
                                     const bool told =
                                         PageScripts::geometryOf(moved.toObject()).has_value();
                                     findAt(round, page, told ? moved.toObject() : metrics);
                                 });
        });
}

void MoviePointQuestion::findAt(const std::shared_ptr<Round>& round, const QString& page,
                                const QJsonObject& metrics)
{
    if (m_round != round)
        return;
    round->geometry = *PageScripts::geometryOf(metrics);
    round->pageUrl = metrics.value(QStringLiteral("url")).toString();
    m_lastPage = Page{page, round->geometry};
    findInDocument(round, page, round->geometry.screenToCss(round->screen), {}, 0);
}

void MoviePointQuestion::findInDocument(const std::shared_ptr<Round>& round,
                                        const QString& document, QPointF css, QPointF offset,
                                        int depth)
{
    constexpr int kMaxDepth = 4;
    m_documents.evaluate(
        document, PageScripts::findMovie(css, false),
        [this, round, document, css, offset, depth](const QJsonValue& value) {
            QJsonObject hit = value.toObject();
            if (hit.isEmpty() || m_round != round) {
                answer(round, std::nullopt);
                return;
            }
            const QJsonObject frame = hit.value(QStringLiteral("crossFrame")).toObject();
            if (frame.isEmpty()) {
                // The rectangle is in the document's own CSS pixels: into the page's.
                hit.insert(QStringLiteral("left"),
                           hit.value(QStringLiteral("left")).toDouble() + offset.x());
                hit.insert(QStringLiteral("top"),
                           hit.value(QStringLiteral("top")).toDouble() + offset.y());
                std::optional<MovieAtPoint> movie = PageScripts::movieOf(hit, round->geometry);
                if (movie)
                    m_lastHit = Hit{round->screen, document, css};
                answer(round, std::move(movie));
                return;
            }
            // Over a frame of another site: its own document is asked, at the point within it.
            const QString child =
                m_documents.frameDocument(document, frame.value(QStringLiteral("src")).toString());
            const QPointF inner(frame.value(QStringLiteral("left")).toDouble(),
                                frame.value(QStringLiteral("top")).toDouble());
            if (child.isEmpty() || depth >= kMaxDepth) {
                answer(round, std::nullopt);
                return;
            }
            findInDocument(round, child, css - inner, offset + inner, depth + 1);
        });
}

void MoviePointQuestion::answer(const std::shared_ptr<Round>& round,
                                std::optional<MovieAtPoint> movie)
{
    if (m_round != round)
        return; // answered already, by the deadline
    m_round.reset();
    m_deadline.stop();
    if (movie)
        movie->pageUrl = round->pageUrl;
    emit located(round->screen, movie);
    startNext();
}

void MoviePointQuestion::deadlinePassed()
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
    if (m_connection.repliesHeard() == m_repliesWhenAsked &&
        m_connection.state() == BrowserConnection::State::Ready)
        m_connection.fail();
    answer(round, std::nullopt);
}
