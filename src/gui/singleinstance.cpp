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
    m_lock = std::make_unique<DataFolderLock>(m_dataFolder);
    if (!m_lock->acquire(0)) {
        if (askRunningProgramToShow())
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

bool SingleInstance::askRunningProgramToShow()
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kWaitMs);
    socket.disconnectFromServer();
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
