#include "singleinstance.h"

#include "datafolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdio>

namespace {

constexpr int kWaitMs = 2000;
constexpr int kChangeWaitMs = 10000;
// A request is a line naming it, then its argument: everything up to the end of the connection.
const QByteArray kShowRequest = QByteArrayLiteral("show\n");
const QByteArray kPlayRequest = QByteArrayLiteral("play\n");
/// A request is a line and a path: more is no request of ours.
constexpr qsizetype kMaxRequest = 64 * 1024;

} // namespace

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent)
    : QObject(parent)
    , m_dataFolder(QDir(dataFolder).absolutePath())
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName() const
{
    const QByteArray hash =
        QCryptographicHash::hash(m_dataFolder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("clipvault-%1-%2")
        .arg(qEnvironmentVariable("USER"), QString::fromLatin1(hash));
}

bool SingleInstance::acquire(const std::optional<QString>& movie)
{
    QDir().mkpath(m_dataFolder);
    m_lock = std::make_unique<DataFolderLock>(m_dataFolder);
    if (!m_lock->acquire(0)) {
        const QByteArray request = movie ? kPlayRequest + movie->toUtf8() : kShowRequest;
        if (askRunningProgram(request))
            return false;
        // No program answers: the command-line tool holds the folder for the moment of a
        // change, and the program starts after it, on the changed logs.
        if (!m_lock->acquire(kChangeWaitMs)) {
            std::fprintf(stderr, "clipvault: the data folder %s is busy; try again\n",
                         qPrintable(QDir::toNativeSeparators(m_dataFolder)));
            return false;
        }
    }
    QLocalServer::removeServer(serverName());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    m_server->listen(serverName());
    return true;
}

bool SingleInstance::askRunningProgram(const QByteArray& request)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(request);
    socket.waitForBytesWritten(kWaitMs);
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // The request is whole once its sender has gone.
        auto request = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [socket, request] {
            request->append(socket->readAll());
            if (request->size() > kMaxRequest)
                socket->abort();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, request] {
            request->append(socket->readAll());
            if (request->size() <= kMaxRequest)
                handleRequest(*request);
            socket->deleteLater();
        });
    }
}

void SingleInstance::handleRequest(const QByteArray& request)
{
    if (request.startsWith(kPlayRequest))
        emit playRequested(QString::fromUtf8(request.mid(kPlayRequest.size())));
    else if (request.startsWith("show"))
        emit activationRequested();
}
