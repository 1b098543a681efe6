#include "singleinstance.h"

#include "activationtoken.h"
#include "datafolder.h"
#include "nativemessaging.h"
#include "privatefolder.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kWaitMs = 2000;
constexpr int kChangeWaitMs = 10000;
// A request is a line naming it, then its argument: everything up to the end of the connection
// or up to a NUL, after which comes the token the desktop gave the later start for bringing a
// window forward, when it gave one.
const QByteArray kShowRequest = QByteArrayLiteral("show\n");
const QByteArray kPlayRequest = QByteArrayLiteral("play\n");
/// A request is a line and a path: more is no request of ours.
constexpr qsizetype kMaxRequest = 64 * 1024;

QByteArray requestFor(const std::optional<QString>& movie)
{
    const QByteArray request = movie ? kPlayRequest + movie->toUtf8() : kShowRequest;
    const QString token = platform::launchActivationToken();
    return token.isEmpty() ? request : request + '\0' + token.toUtf8();
}

/// A request arrives whole within this time of its connection, or is dropped.
constexpr int kRequestTimeoutMs = 5000;
constexpr int kMaxPending = 64;

} // namespace

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent)
    : QObject(parent)
    , m_dataFolder(QDir(dataFolder).absolutePath())
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName() const
{
    return ProgramSocketPath(m_dataFolder);
}

bool SingleInstance::isOwnPeer(const QLocalSocket& socket)
{
    ucred peer = {};
    socklen_t length = sizeof peer;
    return getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                      &length) == 0 &&
           peer.uid == geteuid();
}

bool SingleInstance::isListening() const
{
    return m_server && m_server->isListening();
}

bool SingleInstance::acquire(const std::optional<QString>& movie)
{
    QDir().mkpath(m_dataFolder);
    m_lock = std::make_unique<DataFolderLock>(m_dataFolder);
    if (!m_lock->acquire(0)) {
        if (askRunningProgram(requestFor(movie)))
            return false;
        // No program answers: the command-line tool holds the folder for the moment of a
        // change, and the program starts after it, on the changed logs.
        if (!m_lock->acquire(kChangeWaitMs)) {
            std::fprintf(stderr, "clipvault: the data folder %s is busy; try again\n",
                         qPrintable(QDir::toNativeSeparators(m_dataFolder)));
            return false;
        }
    }
    listen();
    return true;
}

void SingleInstance::listen()
{
    const QString name = serverName();
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(kMaxPending);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnection);
    if (!name.isEmpty()) {
        QLocalServer::removeServer(name);
        if (m_server->listen(name))
            return;
    }
    // The program runs on; a later start just cannot hand it anything.
    const QString why = name.isEmpty() ? QStringLiteral("no folder only this user may write in")
                                       : name + QStringLiteral(": ") + m_server->errorString();
    std::fprintf(stderr,
                 "clipvault: cannot listen for later starts (%s); a second start will not find "
                 "this one\n",
                 qPrintable(why));
}

bool SingleInstance::askRunningProgram(const QByteArray& request)
{
    return AskRunningProgram(m_dataFolder, request, kWaitMs, false).has_value();
}

bool SingleInstance::handOff(const QString& dataFolder, const std::optional<QString>& movie)
{
    return SingleInstance(dataFolder).askRunningProgram(requestFor(movie));
}

void SingleInstance::acceptConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (!isOwnPeer(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // The request is whole once its sender has gone. One that grows past its limit, or whose
        // sender never finishes it, is dropped unheard: a part of a path is no movie to play.
        struct Request
        {
            QByteArray bytes;
            bool dropped = false;
            bool companion = false; ///< handed to the browser companions, no request
            bool answered = false;  ///< a question being answered, which may take long
        };
        auto request = std::make_shared<Request>();
        const auto drop = [socket, request] {
            if (request->companion || request->answered)
                return;
            request->dropped = true;
            socket->abort();
        };
        QTimer::singleShot(kRequestTimeoutMs, socket, drop);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, request, drop] {
            request->bytes.append(socket->readAll());
            // A question of the command line's, which waits for its answer.
            if (answer(*socket, request->bytes)) {
                request->dropped = true; // answered here, not when it ends
                request->answered = true;
                return;
            }
            // A browser companion's host stays connected and speaks in frames from then on.
            const QByteArray greeting(nativemessaging::kSocketGreeting);
            if (request->bytes.startsWith(greeting)) {
                request->companion = true;
                disconnect(socket, nullptr, this, nullptr);
                emit companionConnected(socket, request->bytes.mid(greeting.size()));
                return;
            }
            if (request->bytes.size() > kMaxRequest)
                drop();
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, request] {
            request->bytes.append(socket->readAll());
            if (!request->dropped && request->bytes.size() <= kMaxRequest)
                handleRequest(request->bytes);
            socket->deleteLater();
        });
    }
}

bool SingleInstance::answer(QLocalSocket& socket, const QByteArray& request)
{
    if (const auto answer = m_answers.constFind(request); answer != m_answers.cend()) {
        (*answer)(socket);
        return true;
    }
    // A question with an argument is whole once its argument's line has ended.
    const qsizetype firstLine = request.indexOf('\n');
    if (firstLine < 0 || !request.endsWith('\n') || request.size() == firstLine + 1)
        return false;
    const auto answer = m_argumentAnswers.constFind(request.left(firstLine + 1));
    if (answer == m_argumentAnswers.cend())
        return false;
    (*answer)(socket, request.mid(firstLine + 1).chopped(1));
    return true;
}

void SingleInstance::handleRequest(const QByteArray& whole)
{
    const qsizetype cut = whole.indexOf('\0');
    const QByteArray request = cut < 0 ? whole : whole.left(cut);
    if (cut >= 0)
        platform::useActivationToken(QString::fromUtf8(whole.mid(cut + 1)));
    if (request.startsWith(kPlayRequest))
        emit playRequested(QString::fromUtf8(request.mid(kPlayRequest.size())));
    else if (request.startsWith("show"))
        emit activationRequested();
}
