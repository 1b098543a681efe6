#pragma once

#include "movielocator.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QWebSocket;

/// One long-lived DevTools session with a browser, kept open between questions: a socket to the
/// browser's endpoint on 127.0.0.1, attached to each of its pages (flat sessions), following
/// the pages as they come and go. Nothing here ever waits: questions go out, answers come back
/// as the socket delivers them. The page last found visible is asked first; when it is hidden
/// or the point is outside it, every page is asked and the visible one under the point wins.
/// A browser that does not answer within kAnswerMs gets "no movie"; one that stays silent, or
/// leaves any call unanswered for kCallMs, is dropped and tried again after kRetryMs. A change
/// of browser (another port) opens anew. Whatever the endpoint sends is bounded: its discovery
/// reply and each socket message to kMaxMessageBytes, a reply being read is aborted when the
/// session closes.
class DevToolsSession final : public MovieLocator
{
    Q_OBJECT
public:
    static constexpr int kAnswerMs = 1000;
    static constexpr int kConnectMs = 3000;
    static constexpr int kRetryMs = 2000;
    /// The longest any call may go unanswered before the session is dropped.
    static constexpr int kCallMs = 3000;
    static constexpr qint64 kMaxMessageBytes = 4 << 20;
    /// At most this many pages are attached.
    static constexpr int kMaxPages = 16;

    explicit DevToolsSession(QObject* parent = nullptr);
    ~DevToolsSession() override;
    Q_DISABLE_COPY_MOVE(DevToolsSession)

    void locate(quint16 port, QPoint screen) override;
    void pause(QPoint screen) override;
    QString pageUrl() const override { return m_pageUrl; }

    /// Whether the session is open and its pages attached.
    bool isReady() const { return m_state == State::Ready; }
    int pageCount() const { return static_cast<int>(m_pages.size()); }

private:
    enum class State
    {
        Closed,
        Discovering, ///< asking /json/version for the browser's socket
        Connecting,
        Ready,
        Failed ///< until m_failedAt is kRetryMs old
    };
    /// A reply's "result", or an empty object when the call failed or the session closed.
    using Reply = std::function<void(const QJsonObject& result)>;
    struct Round;

    void open(quint16 port);
    /// Closes the socket, leaving the session in `after` (Closed or Failed).
    void close(State after = State::Closed);
    void fail();
    void discovered(QNetworkReply* reply);
    void connected();
    void messageReceived(const QString& text);
    void handleEvent(const QString& method, const QJsonObject& params);
    void attach(const QJsonObject& targetInfo);
    void call(const QString& method, const QJsonObject& params, const QString& sessionId,
              Reply reply);
    void evaluate(const QString& sessionId, const QString& expression, Reply reply);

    void startNext();
    void askPages(const std::shared_ptr<Round>& round, const QStringList& sessions);
    void metricsArrived(const std::shared_ptr<Round>& round, const QString& session,
                        const QJsonObject& metrics);
    void findIn(const std::shared_ptr<Round>& round, const QString& session,
                const QJsonObject& metrics);
    void answer(const std::shared_ptr<Round>& round, const std::optional<MovieAtPoint>& movie);
    void deadlinePassed();
    /// Gives a point that waits for the session to be ready the deadline of a question.
    void waitForSession();
    /// Drops the session when a call has waited past kCallMs.
    void checkCallDeadlines();

    QNetworkAccessManager* m_network;
    QPointer<QNetworkReply> m_discovery; ///< the /json/version reply being read
    QWebSocket* m_socket = nullptr;
    State m_state = State::Closed;
    quint16 m_port = 0;
    QTimer m_connectDeadline;
    QElapsedTimer m_failedAt;

    int m_nextId = 1;
    struct PendingCall
    {
        Reply reply;
        QElapsedTimer sent;
    };
    QHash<int, PendingCall> m_calls;
    QTimer m_callSweep;
    QHash<QString, QString> m_pages; ///< target id → session id
    QString m_visibleSession;        ///< the page last found visible under the pointer
    QJsonObject m_visibleMetrics;    ///< and its metrics then
    QString m_pageUrl;

    std::optional<QPoint> m_pending; ///< the latest point not yet asked about
    std::shared_ptr<Round> m_round;  ///< the question being answered
    QTimer m_answerDeadline;
    bool m_heardSinceAsked = false; ///< a call was answered during the question
};
