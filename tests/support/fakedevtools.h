#pragma once

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <functional>
#include <optional>

/// A stand-in for a browser's debugging endpoint on 127.0.0.1, on one port as a browser has it:
/// "/json/version" over plain HTTP and the browser's socket. Each call on the socket is answered
/// as `answer` says (nothing: never answered). It can also misbehave as hostile or hung
/// endpoints do: a version reply that never ends, a flood of events.
class FakeDevTools final : public QObject
{
public:
    /// The result of a call, or none to leave it unanswered.
    using Answer = std::function<std::optional<QJsonObject>(const QJsonObject& call)>;

    explicit FakeDevTools(Answer answer, bool versionNeverEnds = false)
        : m_answer(std::move(answer))
        , m_versionNeverEnds(versionNeverEnds)
        , m_sockets(QStringLiteral("fake"), QWebSocketServer::NonSecureMode)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { route(socket); });
        });
        connect(&m_sockets, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = m_sockets.nextPendingConnection()) {
                socket->setParent(this); // the server hands them over: they go with the fake
                ++m_socketsOpened;
                m_open = socket;
                connect(socket, &QWebSocket::textMessageReceived, this,
                        [this, socket](const QString& text) { called(socket, text); });
            }
        });
        m_flood.setInterval(5);
        connect(&m_flood, &QTimer::timeout, this, [this] {
            for (int i = 0; i < 200 && m_open; ++i)
                m_open->sendTextMessage(QStringLiteral(
                    R"({"method":"Target.targetInfoChanged","params":{"targetInfo":{"type":"other"}}})"));
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    int versionRequests() const { return m_versionRequests; }
    int socketsOpened() const { return m_socketsOpened; }
    int calls() const { return m_calls; }
    void setAnswer(Answer answer) { m_answer = std::move(answer); }
    /// Answers every call this long after it came, as a browser busy starting up does.
    void setReplyDelay(int ms) { m_replyDelayMs = ms; }
    /// What "/json/list" lists, most recently active first.
    void setList(const QJsonArray& pages) { m_list = pages; }
    /// Whether "/json/..." is answered: a browser whose user allowed remote debugging on the
    /// everyday profile answers 404, its endpoint named only in its profile.
    void setDiscovery(bool answered) { m_discovery = answered; }
    /// Events without end on the open socket, a few hundred every few milliseconds.
    void flood(bool on) { on ? m_flood.start() : m_flood.stop(); }
    /// Tells the open socket of an event, after the answer being given.
    void sendEventSoon(const QJsonObject& event)
    {
        QTimer::singleShot(0, this, [this, event] { sendEvent(event); });
    }
    /// Tells the open socket of an event now: from an answer, before the answer, as a browser
    /// tells of the targets it has before it answers the call that asked for them.
    void sendEvent(const QJsonObject& event)
    {
        if (m_open)
            m_open->sendTextMessage(
                QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
    }

private:
    void route(QTcpSocket* socket)
    {
        const QByteArray head = socket->peek(8192);
        if (!head.contains("\r\n\r\n"))
            return;
        socket->disconnect(this);
        if (head.toLower().contains("upgrade: websocket")) {
            m_sockets.handleConnection(socket);
            return;
        }
        socket->readAll();
        if (!m_discovery) {
            socket->write(
                "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        if (head.startsWith("GET /json/list")) {
            reply(socket, QJsonDocument(m_list).toJson(QJsonDocument::Compact));
            return;
        }
        ++m_versionRequests;
        if (m_versionNeverEnds) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                          "Content-Length: 100000000000\r\n\r\n{\"webSocketDebuggerUrl\":\"");
            auto* drip = new QTimer(socket);
            connect(drip, &QTimer::timeout, socket, [socket] {
                if (socket->bytesToWrite() < (1 << 20))
                    socket->write(QByteArray(256 * 1024, 'x'));
            });
            drip->start(1);
            return;
        }
        // The socket's host is another's, as a hostile endpoint may name it: only its path
        // may count.
        reply(socket, QByteArrayLiteral(R"({"webSocketDebuggerUrl":"ws://192.0.2.1:)") +
                          QByteArray::number(port()) + "/devtools/browser/fake\"}");
    }

    static void reply(QTcpSocket* socket, const QByteArray& body)
    {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    void called(QWebSocket* socket, const QString& text)
    {
        ++m_calls;
        const QJsonObject call = QJsonDocument::fromJson(text.toUtf8()).object();
        const std::optional<QJsonObject> result = m_answer(call);
        if (!result)
            return;
        const QJsonObject reply{{QStringLiteral("id"), call.value(QStringLiteral("id"))},
                                {QStringLiteral("result"), *result}};
        const QString answer =
            QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact));
        if (m_replyDelayMs == 0)
            socket->sendTextMessage(answer);
        else
            QTimer::singleShot(m_replyDelayMs, socket,
                               [socket, answer] { socket->sendTextMessage(answer); });
    }

    Answer m_answer;
    bool m_versionNeverEnds;
    QTcpServer m_server;
    QWebSocketServer m_sockets;
    QWebSocket* m_open = nullptr;
    QTimer m_flood;
    QJsonArray m_list;
    bool m_discovery = true;
    int m_replyDelayMs = 0;
    int m_versionRequests = 0;
    int m_socketsOpened = 0;
    int m_calls = 0;
};
