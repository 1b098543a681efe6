#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QWebSocket;

/// One socket to a browser's debugging endpoint on 127.0.0.1, kept open between questions:
/// calls out with their ids, replies matched to them, events handed on. It is the part both
/// debugging protocols share (each message a JSON object; a call {id, method, params}, its
/// reply {id, result} or {id, error}, an event {method, params}); a protocol adds how its socket
/// is found and what is said once it is open.
///
/// Nothing here ever waits. Whatever the endpoint sends is bounded (kMaxMessageBytes a message).
/// A connection that takes longer than kConnectMs to open, or leaves any call unanswered for
/// kCallMs, is dropped; then it stays closed for kRetryMs, and a call meanwhile fails at once.
class BrowserConnection : public QObject
{
    Q_OBJECT
public:
    static constexpr int kConnectMs = 3000;
    static constexpr int kRetryMs = 2000;
    static constexpr int kCallMs = 3000;
    /// Large enough for the browser's copy of a movie a tab loaded (base64), and no larger.
    static constexpr qint64 kMaxMessageBytes = 48 << 20;

    enum class State
    {
        Closed,
        Opening, ///< finding the socket, opening it, or saying what the protocol says first
        Ready,
        Failed ///< until the failure is kRetryMs old
    };

    /// A reply's "result"; an empty object when the call failed or the connection closed.
    using Reply = std::function<void(const QJsonObject& result)>;

    explicit BrowserConnection(QObject* parent = nullptr);
    ~BrowserConnection() override;
    Q_DISABLE_COPY_MOVE(BrowserConnection)

    /// Opens the connection to the browser on `port` unless it is open or opening (another port
    /// closes the one open first); after a failure, only once kRetryMs have passed. Returns the
    /// state it is in then.
    State open(quint16 port);
    void close() { closeAs(State::Closed); }
    State state() const { return m_state; }
    quint16 port() const { return m_port; }
    bool isReady() const { return m_state == State::Ready; }

    /// Sends a call; `reply` runs once with its result, or with nothing when the call fails.
    /// `envelope` adds fields beside the id (the page session a call goes to). A call left
    /// unanswered for `limitMs` drops the connection.
    void call(const QString& method, const QJsonObject& params, Reply reply,
              const QJsonObject& envelope = {}, int limitMs = kCallMs);
    /// How many replies have come since the connection was made: a question tells a browser
    /// that answers slowly from one that answers nothing.
    quint64 repliesHeard() const { return m_repliesHeard; }
    /// What the browser said of the last call it refused; empty when it refused none.
    QString lastError() const { return m_lastError; }

signals:
    /// The connection is open and the protocol's first words are said.
    void ready();
    /// The connection went down, was closed or could not be made; every call waiting has
    /// failed.
    void closed();
    /// An event of the browser's; `message` is the whole of it.
    void event(const QString& method, const QJsonObject& params, const QJsonObject& message);

protected:
    /// Finds the address of the socket for `port` and passes it to openSocket(), or fails.
    virtual void findSocket(quint16 port) = 0;
    /// Says what the protocol says first on the open socket, then calls becomeReady().
    virtual void greet() = 0;
    /// Says what the protocol says last, as an open connection closes; true to close the
    /// socket in an orderly way (what was said still reaches the browser), false to drop it.
    virtual bool farewell() { return false; }

    void openSocket(const QUrl& url);
    void becomeReady();
    /// Gives the opening `ms` more from now: for a first call that must not be abandoned (a
    /// browser may keep what it made for a call whose socket went, and refuse the next).
    void extendOpening(int ms);

public:
    /// Drops the connection as failed: it is tried again after kRetryMs.
    void fail();

protected:
    QNetworkAccessManager& network() { return *m_network; }
    /// The address of the socket at `path` on the debugging port of this machine: only ever
    /// the loopback address, whatever host the browser names.
    QUrl loopbackUrl(const QString& path) const;

private:
    void closeAs(State after);
    void messageReceived(const QString& text);
    /// Drops the connection when a call has waited past kCallMs.
    void checkCallDeadlines();

    QNetworkAccessManager* m_network;
    QWebSocket* m_socket = nullptr;
    State m_state = State::Closed;
    quint16 m_port = 0;
    QTimer m_connectDeadline;
    QElapsedTimer m_failedAt;

    struct PendingCall
    {
        Reply reply;
        QElapsedTimer sent;
        int limitMs = kCallMs;
    };
    int m_nextId = 1;
    QHash<int, PendingCall> m_calls;
    QTimer m_callSweep;
    quint64 m_repliesHeard = 0;
    QString m_lastError;
};

/// Whether the process listening on `port` of this machine runs as this user, by the kernel's
/// socket tables; false when no one listens there. A debugging port may be opened by anyone.
bool LoopbackListenerIsOurs(quint16 port,
                            const QStringList& tables = {QStringLiteral("/proc/net/tcp"),
                                                         QStringLiteral("/proc/net/tcp6")});
