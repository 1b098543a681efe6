#include "devtoolsclient.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>

DevToolsClient::DevToolsClient(quint16 port, int timeoutMs, int queryMs)
    : m_port(port)
    , m_timeoutMs(timeoutMs)
    , m_query(queryMs)
{
}

int DevToolsClient::waitMs() const
{
    return static_cast<int>(std::min<qint64>(m_timeoutMs, m_query.remainingTime()));
}

QUrl DevToolsClient::socketUrl(const QString& webSocketDebuggerUrl) const
{
    const QString path = QUrl(webSocketDebuggerUrl).path();
    if (!path.startsWith(QStringLiteral("/devtools/")) || path.contains(QStringLiteral("..")))
        return {};
    QUrl url;
    url.setScheme(QStringLiteral("ws"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_port);
    url.setPath(path);
    return url;
}

std::optional<QJsonArray> DevToolsClient::pages() const
{
    if (m_port == 0 || waitMs() <= 0)
        return std::nullopt;
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply* reply = network.get(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(m_port))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(waitMs(), &loop, &QEventLoop::quit);
    loop.exec();
    if (!reply->isFinished() || reply->error() != QNetworkReply::NoError) {
        reply->abort();
        reply->deleteLater();
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
    reply->deleteLater();
    QJsonArray pages;
    for (const QJsonValue& target : document.array()) {
        const QJsonObject object = target.toObject();
        const QString url = object.value(QStringLiteral("url")).toString();
        if (object.value(QStringLiteral("type")).toString() != u"page" ||
            url.startsWith(QStringLiteral("devtools://")) ||
            url.startsWith(QStringLiteral("chrome-extension://")) ||
            socketUrl(object.value(QStringLiteral("webSocketDebuggerUrl")).toString()).isEmpty())
            continue;
        pages.append(object);
        if (pages.size() == kMaxPages)
            break;
    }
    return pages;
}

std::optional<QJsonValue> DevToolsClient::evaluate(const QString& webSocketUrl,
                                                   const QString& expression) const
{
    const QUrl url = socketUrl(webSocketUrl);
    if (url.isEmpty() || waitMs() <= 0)
        return std::nullopt;
    // No Origin header: the browser refuses foreign origins unless told to allow them.
    QWebSocket socket(QString(), QWebSocketProtocol::VersionLatest);
    std::optional<QJsonValue> result;
    QEventLoop loop;
    QObject::connect(&socket, &QWebSocket::connected, [&] {
        const QJsonObject call{
            {QStringLiteral("id"), 1},
            {QStringLiteral("method"), QStringLiteral("Runtime.evaluate")},
            {QStringLiteral("params"), QJsonObject{{QStringLiteral("expression"), expression},
                                                   {QStringLiteral("returnByValue"), true}}}};
        socket.sendTextMessage(
            QString::fromUtf8(QJsonDocument(call).toJson(QJsonDocument::Compact)));
    });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& message) {
        const QJsonObject reply = QJsonDocument::fromJson(message.toUtf8()).object();
        if (reply.value(QStringLiteral("id")).toInt() != 1)
            return; // an event
        const QJsonObject evaluated = reply.value(QStringLiteral("result")).toObject();
        if (!evaluated.contains(QStringLiteral("exceptionDetails")))
            result =
                evaluated.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
        loop.quit();
    });
    QObject::connect(&socket, &QWebSocket::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(waitMs(), &loop, &QEventLoop::quit);
    socket.open(url);
    loop.exec();
    socket.abort();
    return result;
}

QByteArray ReadSmallRegularFile(const QString& path, qsizetype limit)
{
    // Opened without blocking and without following a link: the folder is another program's,
    // and a FIFO or device under the name must not hold the caller.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    struct stat facts = {};
    QByteArray text;
    if (::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_size <= limit) {
        text.resize(static_cast<qsizetype>(facts.st_size));
        const ssize_t got = ::read(fd, text.data(), static_cast<size_t>(text.size()));
        text.resize(got > 0 ? static_cast<qsizetype>(got) : 0);
    }
    ::close(fd);
    return text;
}

quint16 DebuggingPortFromCommandLine(const QStringList& arguments)
{
    QString userDataDir;
    for (const QString& argument : arguments) {
        if (argument.startsWith(QStringLiteral("--remote-debugging-port="))) {
            const uint port = argument.section(u'=', 1).toUInt();
            if (port > 0 && port < 65536)
                return static_cast<quint16>(port);
        } else if (argument.startsWith(QStringLiteral("--user-data-dir="))) {
            userDataDir = argument.section(u'=', 1);
        }
    }
    // With port 0 the browser picks one and writes it, with its browser path, to this file.
    if (userDataDir.isEmpty())
        return 0;
    const QByteArray text =
        ReadSmallRegularFile(QDir(userDataDir).filePath(QStringLiteral("DevToolsActivePort")));
    const uint port = text.left(text.indexOf('\n')).trimmed().toUInt();
    return port > 0 && port < 65536 ? static_cast<quint16>(port) : 0;
}

quint16 DebuggingPortOfProcess(qint64 pid)
{
    QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (pid <= 0 || !commandLine.open(QIODevice::ReadOnly))
        return 0;
    QStringList arguments;
    for (const QByteArray& part : commandLine.readAll().split('\0'))
        arguments << QString::fromLocal8Bit(part);
    return DebuggingPortFromCommandLine(arguments);
}
