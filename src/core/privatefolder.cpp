#include "privatefolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Whether `path` is a real folder (no link) of this user's that nobody else may enter.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat facts = {};
    return lstat(path.constData(), &facts) == 0 && S_ISDIR(facts.st_mode) &&
           facts.st_uid == geteuid() && (facts.st_mode & 077) == 0;
}

/// Makes `path` a folder only this user may enter: created 0700, or an existing one of this
/// user's set to 0700. False when it is a link or someone else's.
bool makePrivateFolder(const QByteArray& path)
{
    if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat facts = {};
    const bool ours = fstat(fd, &facts) == 0 && facts.st_uid == geteuid() &&
                      ((facts.st_mode & 077) == 0 || fchmod(fd, 0700) == 0);
    close(fd);
    return ours;
}

} // namespace

QString PrivateRuntimeFolder(const QString& dataFolder)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) &&
        isPrivateFolder(QFile::encodeName(runtime)))
        return QDir::cleanPath(runtime);
    QDir().mkpath(dataFolder);
    const QString own = QDir(dataFolder).absoluteFilePath(QStringLiteral("run"));
    return makePrivateFolder(QFile::encodeName(own)) ? QDir::cleanPath(own) : QString();
}

QString SessionTag(const QString& display, const QString& dataFolder)
{
    const QByteArray both = display.toUtf8() + '\n' + QDir(dataFolder).absolutePath().toUtf8();
    return QString::fromLatin1(
        QCryptographicHash::hash(both, QCryptographicHash::Sha256).toHex().left(12));
}

QString ProgramSocketPath(const QString& dataFolder)
{
    // In a folder only this user can create names in: a name in /tmp could be taken first by
    // anyone, who would then receive every later start. One socket per data folder, whatever
    // the display.
    const QString folder = PrivateRuntimeFolder(dataFolder);
    if (folder.isEmpty())
        return {};
    return QDir(folder).filePath(QStringLiteral("clipvault.") + SessionTag({}, dataFolder));
}

int ConnectToOwnProgram(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || static_cast<std::size_t>(name.size()) >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    // Only ever this user's own program: what is asked and told is nobody else's business.
    ucred peer = {};
    socklen_t length = sizeof peer;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        peer.uid != ::geteuid()) {
        ::close(socket);
        return -1;
    }
    return socket;
}

std::optional<QByteArray> AskRunningProgram(const QString& dataFolder, const QByteArray& request,
                                            int waitMs, bool question, qsizetype mostReply)
{
    const int socket = ConnectToOwnProgram(ProgramSocketPath(dataFolder));
    if (socket < 0)
        return std::nullopt;
    // A program that hangs holds the asker for a moment only.
    const timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    bool reached = true;
    for (qsizetype done = 0; reached && done < request.size();) {
        const ssize_t written =
            ::send(socket, request.constData() + done,
                   static_cast<std::size_t>(request.size() - done), MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        reached = written > 0;
        done += written;
    }
    QByteArray reply;
    if (reached && !question)
        ::shutdown(socket, SHUT_WR);
    while (reached && reply.size() < mostReply) {
        char piece[4096];
        const ssize_t got = ::recv(socket, piece, sizeof piece, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        reply.append(piece, got);
    }
    ::close(socket);
    if (!reached)
        return std::nullopt;
    return reply;
}
