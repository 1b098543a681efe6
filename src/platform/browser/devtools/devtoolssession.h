#pragma once

#include "browsersession.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPointF>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class DevToolsConnection;
class DevToolsNetworkWatch;

/// The browser's pages through the Chromium DevTools protocol: one connection to the browser's
/// endpoint, attached to each of its pages (flat sessions) and to the frames of other sites in
/// them, following them as they come and go, and watching what they fetch. This is the one place
/// that speaks the protocol.
///
/// The movie under a point: the page last found visible is asked first; when it is hidden or
/// the point is outside it, every page is asked and the visible one under the point wins; over
/// a frame of another site, that frame's own page is asked. A browser that does not answer
/// within kAnswerMs gets "no movie"; one that said nothing at all meanwhile is dropped and
/// tried again later. The visible tab: the page that calls itself visible, else the one the
/// browser lists first (it lists them most recently active first).
class DevToolsSession final : public BrowserSession
{
    Q_OBJECT
public:
    /// At most this many pages are attached.
    static constexpr int kMaxPages = 16;
    /// At most this many frames of other sites are attached, and documents listed in a tab.
    static constexpr int kMaxFrames = 64;
    /// The largest body the browser is asked to keep for a response, and handed over.
    static constexpr int kMaxKeptBody = 32 << 20;

    explicit DevToolsSession(QObject* parent = nullptr);
    ~DevToolsSession() override;
    Q_DISABLE_COPY_MOVE(DevToolsSession)

    void FindMovieAtPoint(const BrowserEndpoint& browser, QPoint screen) override;
    void PauseMovieAtPoint(QPoint screen) override;
    QString pageUrl() const override { return m_pageUrl; }
    void GetAddressBarText(const BrowserEndpoint& browser, QObject* context,
                           AddressAnswer answer) override;
    void FindTabMovies(const BrowserEndpoint& browser, QObject* context,
                       MoviesAnswer answer) override;
    void FetchLoadedMovie(const BrowserEndpoint& browser, const QString& url, QObject* context,
                          BodyAnswer answer) override;

    using ValueAnswer = std::function<void(const QJsonValue& value)>;
    /// Evaluates an expression in the visible tab's page; `answer` gets its value (undefined
    /// when none came), as GetAddressBarText answers.
    void evaluateInVisibleTab(quint16 port, const QString& expression, QObject* context,
                              ValueAnswer answer);
    using ValuesAnswer = std::function<void(const QJsonArray& values)>;
    /// Evaluates an expression in every page the browser has; `answer` gets the values that
    /// came within kTabAnswerMs, in no particular order.
    void evaluateInEveryTab(quint16 port, const QString& expression, QObject* context,
                            ValuesAnswer answer);

    /// How the browser's socket was found: "/json/version", or "DevToolsActivePort" (the
    /// endpoint the everyday profile names when remote debugging is allowed there).
    QString route() const;

    /// Whether the connection is open and its pages attached.
    bool isReady() const;
    int pageCount() const { return static_cast<int>(m_pages.size()); }

private:
    struct Round;
    struct TabQuestion;
    using TabAnswer = std::function<void(const QString& session, const QString& url)>;

    void connectionReady();
    void connectionClosed();
    void handleEvent(const QString& method, const QJsonObject& params, const QString& session);
    void attach(const QJsonObject& targetInfo);
    void attachedFrame(const QJsonObject& params, const QString& parent);
    /// Attaches the frames of other sites in a page or frame and watches what it fetches.
    void watch(const QString& session);
    void forgetSession(const QString& session);
    QString sessionUrl(const QString& session) const;
    /// The page a frame's session belongs to (the session itself for a page).
    QString topSessionOf(QString session) const;
    /// A page's session and those of the frames of other sites in it, at every depth.
    QStringList framesOf(const QString& page) const;
    bool isAttaching() const;
    /// Evaluates in a session's page, or in one of its execution contexts (0: the page's own).
    void evaluate(const QString& session, const QString& expression,
                  std::function<void(const QJsonValue&)> reply, int contextId = 0);
    /// The main world of every frame a session's process holds (frames of the same site, and of
    /// other sites the browser keeps in the same process).
    void listContexts(const QString& session, std::function<void(const QList<int>&)> then);

    // The visible tab.
    void askVisibleTab(quint16 port, QObject* context, TabAnswer answer);
    void whenSettled(std::function<void(bool ready)> then);
    void runSettledWaiters();
    void findVisibleTab(const std::shared_ptr<TabQuestion>& question);
    void takeFirstListedTab(const std::shared_ptr<TabQuestion>& question);

    // The movie under a point.
    void startNext();
    void askPages(const std::shared_ptr<Round>& round, const QStringList& sessions);
    void metricsArrived(const std::shared_ptr<Round>& round, const QString& session,
                        const QJsonObject& metrics);
    void findIn(const std::shared_ptr<Round>& round, const QString& session,
                const QJsonObject& metrics);
    void findAt(const std::shared_ptr<Round>& round, const QString& session,
                const QJsonObject& metrics);
    /// Asks one document (a page or a frame of another site) for the movie at `css`, its
    /// viewport `offset` CSS pixels into the page's; `depth` frames deep.
    void findInDocument(const std::shared_ptr<Round>& round, const QString& session, QPointF css,
                        QPointF offset, int depth);
    /// The session of the frame of another site in `parent` whose document is at `src`.
    QString frameSessionFor(const QString& parent, const QString& src) const;
    void answer(const std::shared_ptr<Round>& round, const std::optional<MovieAtPoint>& movie);
    void deadlinePassed();
    /// Gives a point that waits for the session to be ready the deadline of a question.
    void waitForSession();

    DevToolsConnection* m_connection;
    std::unique_ptr<DevToolsNetworkWatch> m_network;
    QHash<QString, QString> m_pages;           ///< target id → session id; empty while attaching
    QHash<QString, QString> m_frameParents;    ///< a frame's session → its parent's session
    QHash<QString, QString> m_sessionTargets;  ///< session → target id
    QHash<QString, QString> m_targetUrls;      ///< target id → its document's address
    QHash<QString, QList<int>> m_contextLists; ///< sessions whose frames are being listed
    QString m_visibleSession;                  ///< the page last found visible under the pointer
    QJsonObject m_visibleMetrics;              ///< and its metrics then
    QString m_pageUrl;
    QList<std::function<void(bool)>> m_settledWaiters;

    /// Where the last movie was found: its document's session and the point in its CSS pixels,
    /// for pausing it.
    struct Hit
    {
        QPoint screen;
        QString session;
        QPointF css;
    };
    std::optional<Hit> m_lastHit;

    std::optional<QPoint> m_pending; ///< the latest point not yet asked about
    std::shared_ptr<Round> m_round;  ///< the question being answered
    QTimer m_answerDeadline;
    quint64 m_repliesWhenAsked = 0; ///< the connection's replies heard when the round began
};
