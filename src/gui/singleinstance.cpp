#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

namespace {

constexpr int kWaitMs = 2000;
const QByteArray kShowRequest = QByteArrayLiteral("show\n");

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

bool SingleInstance::acquire()
{
    QDir().mkpath(m_dataFolder);
    m_lock =
        std::make_unique<QLockFile>(QDir(m_dataFolder).filePath(QStringLiteral("clipvault.lock")));
    // A lock left by a program that died is stale as soon as its process is gone.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        QLocalSocket socket;
        socket.connectToServer(serverName());
        if (socket.waitForConnected(kWaitMs)) {
            socket.write(kShowRequest);
            socket.waitForBytesWritten(kWaitMs);
            socket.disconnectFromServer();
        }
        return false;
    }
    QLocalServer::removeServer(serverName());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    m_server->listen(serverName());
    return true;
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains("show"))
                emit activationRequested();
        });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    }
}
