#pragma once

#include "browserconnection.h"
#include "browsersession.h"
#include "browserurls.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

/// What the question "which movie is under this point" needs of a protocol. Its documents (a
/// page, a frame of another site in it) are named by a string of the protocol's own: a DevTools
/// session, a BiDi browsing context.
class PointDocuments
{
public:
    virtual ~PointDocuments() = default;

    enum class Readiness
    {
        Waiting,    ///< the protocol's session is opening or still learning of its pages
        Ready,      ///< the pages can be asked
        Unreachable ///< no browser answers: every point is answered "no movie"
    };
    /// Opens the session when it is not open, and tells whether pages can be asked now. A
    /// waiting protocol asks again through MoviePointQuestion::sessionChanged().
    virtual Readiness prepare() = 0;
    /// What a connection's state means for the question.
    static Readiness readinessOf(BrowserConnection::State state);

    using Page = std::function<void(const QString& page, const QJsonObject& metrics)>;
    /// The visible page whose viewport holds the screen point, with the metrics script's answer
    /// there; an empty page for none. Called at most once per question; `then` may come late,
    /// after the question was answered by its deadline.
    virtual void pageAt(QPoint screen, Page then) = 0;

    using Value = std::function<void(const QJsonValue& value)>;
    /// Evaluates an expression in a document; undefined when nothing came or it threw.
    virtual void evaluate(const QString& document, const QString& expression, Value reply) = 0;
    /// Moves the browser's own pointer to `css` in a page, then `done` (also when it failed).
    virtual void movePointer(const QString& page, QPointF css, std::function<void()> done) = 0;
    /// The document of the frame of another site in `parent` whose document is at `src`; empty
    /// when it is not known.
    virtual QString frameDocument(const QString& parent, const QString& src) const = 0;
};

/// The question "which Flash movie is under this screen point", asked the same way whichever
/// protocol reaches the pages. One point is answered at a time; a point asked meanwhile waits,
/// and a later one replaces it. The page under the point is found, told where the pointer is
/// when it has seen no pointer move yet (so that its viewport's place is exact), and asked at
/// the point; over a frame of another site, that frame's own document is asked, frames deep.
/// The answer carries the page's address, which the bar files the movie under.
///
/// A question not answered within BrowserSession::kAnswerMs is answered "no movie"; when the
/// browser said nothing at all meanwhile, its connection is dropped (and opened again later).
class MoviePointQuestion final : public QObject
{
    Q_OBJECT
public:
    /// `waitMs`: how long a point waits for a session that is still opening.
    MoviePointQuestion(PointDocuments& documents, BrowserConnection& connection, int waitMs,
                       QObject* parent = nullptr);
    ~MoviePointQuestion() override;
    Q_DISABLE_COPY_MOVE(MoviePointQuestion)

    void ask(QPoint screen);
    /// Pauses the movie under `screen` in the document it was last found in (else in the last
    /// page asked), when Ruffle plays it.
    void pause(QPoint screen);
    /// The session became ready or closed: a waiting point is asked, or hears "no movie".
    void sessionChanged();
    /// The session closed: what was learnt of its pages is forgotten.
    void forgetPages();

signals:
    void located(QPoint screen, const std::optional<MovieAtPoint>& movie);

private:
    struct Round;

    void startNext();
    void pageFound(const std::shared_ptr<Round>& round, const QString& page,
                   const QJsonObject& metrics);
    void findAt(const std::shared_ptr<Round>& round, const QString& page,
                const QJsonObject& metrics);
    /// Asks one document for the movie at `css`, its viewport `offset` CSS pixels into the
    /// page's; `depth` frames deep.
    void findInDocument(const std::shared_ptr<Round>& round, const QString& document, QPointF css,
                        QPointF offset, int depth);
    void answer(const std::shared_ptr<Round>& round, std::optional<MovieAtPoint> movie);
    void deadlinePassed();

    PointDocuments& m_documents;
    BrowserConnection& m_connection;
    const int m_waitMs;

    /// Where the last movie was found: its document and the point in its CSS pixels.
    struct Hit
    {
        QPoint screen;
        QString document;
        QPointF css;
    };
    std::optional<Hit> m_lastHit;
    /// The page last asked, and its place on the screen then.
    struct Page
    {
        QString document;
        ViewportGeometry geometry;
    };
    std::optional<Page> m_lastPage;

    std::optional<QPoint> m_pending; ///< the latest point not yet asked about
    std::shared_ptr<Round> m_round;  ///< the question being answered
    QTimer m_deadline;
    quint64 m_repliesWhenAsked = 0; ///< the connection's replies heard when the round began
};
