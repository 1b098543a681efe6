#pragma once

#include "browsersession.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class DevToolsConnection;

/// The browser's pages through the Chromium DevTools protocol: one connection to the browser's
/// endpoint, attached to each of its pages (flat sessions) and following them as they come and
/// go. This is the one place that speaks the protocol.
///
/// The movie under a point: the page last found visible is asked first; when it is hidden or
/// the point is outside it, every page is asked and the visible one under the point wins. A
/// browser that does not answer within kAnswerMs gets "no movie"; one that said nothing at all
/// meanwhile is dropped and tried again later. The visible tab: the page that calls itself
/// visible, else the one the browser lists first (it lists them most recently active first).
class DevToolsSession final : public BrowserSession
{
    Q_OBJECT
public:
    /// At most this many pages are attached.
    static constexpr int kMaxPages = 16;

    explicit DevToolsSession(QObject* parent = nullptr);
    ~DevToolsSession() override;
    Q_DISABLE_COPY_MOVE(DevToolsSession)

    void FindMovieAtPoint(quint16 port, QPoint screen) override;
    void PauseMovieAtPoint(QPoint screen) override;
    QString pageUrl() const override { return m_pageUrl; }
    void GetAddressBarText(quint16 port, QObject* context, AddressAnswer answer) override;

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

    /// Whether the connection is open and its pages attached.
    bool isReady() const;
    int pageCount() const { return static_cast<int>(m_pages.size()); }

private:
    /// A reply's "result", or an empty object when the call failed or the session closed.
    using Reply = std::function<void(const QJsonObject& result)>;
    struct Round;
    struct TabQuestion;
    using TabAnswer = std::function<void(const QString& session, const QString& url)>;

    void connectionReady();
    void connectionClosed();
    void handleEvent(const QString& method, const QJsonObject& params);
    void attach(const QJsonObject& targetInfo);
    bool isAttaching() const;
    void evaluate(const QString& session, const QString& expression,
                  std::function<void(const QJsonValue&)> reply);

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
    void answer(const std::shared_ptr<Round>& round, const std::optional<MovieAtPoint>& movie);
    void deadlinePassed();
    /// Gives a point that waits for the session to be ready the deadline of a question.
    void waitForSession();

    DevToolsConnection* m_connection;
    QHash<QString, QString> m_pages; ///< target id → session id; empty while attaching
    QString m_visibleSession;        ///< the page last found visible under the pointer
    QJsonObject m_visibleMetrics;    ///< and its metrics then
    QString m_pageUrl;
    QList<std::function<void(bool)>> m_settledWaiters;

    std::optional<QPoint> m_pending; ///< the latest point not yet asked about
    std::shared_ptr<Round> m_round;  ///< the question being answered
    QTimer m_answerDeadline;
    quint64 m_repliesWhenAsked = 0; ///< the connection's replies heard when the round began
};
