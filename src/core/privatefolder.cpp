#include "privatefolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
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
