#include "browserconnection.h"

#include <unistd.h>

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QWebSocket>

#include <algorithm>

#include "regularfile.h"

BrowserConnection::BrowserConnection(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_connectDeadline.setSingleShot(true);
    connect(&m_connectDeadline, &QTimer::timeout, this, [this] {
        if (m_state == State::Opening)
            fail();
    });
    m_callSweep.setInterval(kCallMs / 4);
    connect(&m_callSweep, &QTimer::timeout, this, &BrowserConnection::checkCallDeadlines);
}

BrowserConnection::~BrowserConnection()
{
    // No one hears of calls that fail as the connection goes: their askers go with it.
    m_calls.clear();
    blockSignals(true);
    closeAs(State::Closed);
}

BrowserConnection::State BrowserConnection::open(quint16 port)
{
    if (port != m_port) {
        // The new port first: whoever hears of the closing and asks again asks the new browser.
        m_port = port;
        close();
    }
    if (m_state == State::Failed && m_failedAt.hasExpired(kRetryMs))
        m_state = State::Closed;
    if (m_state == State::Closed && m_port != 0) {
        // A port whose listener is another user's is no browser of ours: it hears nothing,
        // not even which pages are open.
        if (!LoopbackListenerIsOurs(m_port)) {
            fail();
            return m_state;
        }
        m_state = State::Opening;
        m_connectDeadline.start(kConnectMs);
        findSocket(m_port);
    }
    return m_state;
}

bool LoopbackListenerIsOurs(quint16 port, const QStringList& tables)
{
    // The kernel's socket tables: "sl local rem st tx:rx tr:when retrnsmt uid …", the local
    // address in hexadecimal, the state 0A for a listener.
    const QString wanted = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QString& table : tables) {
        const QByteArray text = ReadSmallRegularFile(table, qint64(16) << 20);
        for (const QByteArray& line : text.split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 8 || fields[3] != "0A" ||
                !QString::fromLatin1(fields[1]).toUpper().endsWith(wanted))
                continue;
            return fields[7].toUInt() == ::getuid();
        }
    }
    return false;
}

QUrl BrowserConnection::loopbackUrl(const QString& path) const
{
    QUrl url;
    url.setScheme(QStringLiteral("ws"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_port);
    url.setPath(path);
    return url;
}

void BrowserConnection::extendOpening(int ms)
{
    if (m_state == State::Opening)
        m_connectDeadline.start(ms);
}

void BrowserConnection::openSocket(const QUrl& url)
{
    if (m_state != State::Opening)
        return;
    // No Origin header: browsers refuse foreign origins unless told to allow them.
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    m_socket->setReadBufferSize(kMaxMessageBytes);
    connect(m_socket, &QWebSocket::connected, this, &BrowserConnection::greet);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &BrowserConnection::messageReceived);
    connect(m_socket, &QWebSocket::disconnected, this, [this] {
        if (m_state != State::Closed)
            fail();
    });
    m_socket->open(url);
}

void BrowserConnection::becomeReady()
{
    // Also reached, through a failed call, while the connection closes: then it stays closed.
    if (m_state != State::Opening)
        return;
    m_connectDeadline.stop();
    m_state = State::Ready;
    emit ready();
}

void BrowserConnection::fail()
{
    m_failedAt.start();
    closeAs(State::Failed);
}

void BrowserConnection::closeAs(State after)
{
    // The state comes first: the calls answered below may ask again, and must find the
    // connection as it will be, not open it anew in the middle of its closing.
    const bool wasOpen = m_state == State::Opening || m_state == State::Ready;
    const bool orderly = m_state == State::Ready && after == State::Closed && farewell();
    m_state = after;
    m_connectDeadline.stop();
    m_callSweep.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        if (orderly) {
            m_socket->flush();
            m_socket->close();
        } else {
            m_socket->abort();
        }
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    // Whoever waits on a call hears that it failed.
    const QHash<int, PendingCall> calls = std::exchange(m_calls, {});
    for (const PendingCall& call : calls)
        call.reply({});
    if (wasOpen)
        emit closed();
}

void BrowserConnection::checkCallDeadlines()
{
    const bool overdue = std::any_of(m_calls.cbegin(), m_calls.cend(), [](const PendingCall& call) {
        return call.sent.hasExpired(call.limitMs);
    });
    if (overdue)
        fail(); // a browser that leaves a call unanswered may leave every later one too
    else if (m_calls.isEmpty())
        m_callSweep.stop();
}

void BrowserConnection::call(const QString& method, const QJsonObject& params, Reply reply,
                             const QJsonObject& envelope, int limitMs)
{
    if (!m_socket) {
        reply({});
        return;
    }
    const int id = m_nextId++;
    QJsonObject message = envelope;
    message.insert(QStringLiteral("id"), id);
    message.insert(QStringLiteral("method"), method);
    message.insert(QStringLiteral("params"), params);
    PendingCall pending{std::move(reply), {}, limitMs};
    pending.sent.start();
    m_calls.insert(id, std::move(pending));
    if (!m_callSweep.isActive())
        m_callSweep.start();
    m_socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void BrowserConnection::messageReceived(const QString& text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QJsonValue id = message.value(QStringLiteral("id"));
    if (id.isUndefined() || id.isNull()) {
        // Events do not count as the browser being alive: one that floods them while it
        // leaves the calls unanswered is hung all the same.
        emit event(message.value(QStringLiteral("method")).toString(),
                   message.value(QStringLiteral("params")).toObject(), message);
        return;
    }
    const PendingCall call = m_calls.take(id.toInt());
    // A refusal: {"error": {"message"}} in the DevTools protocol, {"error", "message"} in BiDi.
    if (const QJsonValue error = message.value(QStringLiteral("error")); !error.isUndefined()) {
        m_lastError = error.isObject()
                          ? error.toObject().value(QStringLiteral("message")).toString()
                          : error.toString() + QStringLiteral(": ") +
                                message.value(QStringLiteral("message")).toString();
        m_lastError.truncate(500);
    }
    if (call.reply) {
        ++m_repliesHeard;
        call.reply(message.value(QStringLiteral("result")).toObject());
    }
}
