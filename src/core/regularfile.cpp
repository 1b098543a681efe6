#include "regularfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

namespace {

std::optional<QByteArray> failed(QString* error, const QString& path, const QString& why)
{
    if (error)
        *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + why;
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> ReadRegularFile(const QString& path, qint64 maxBytes, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failed(error, path,
                      errno == ELOOP ? QStringLiteral("it is a link, not a file")
                                     : QString::fromLocal8Bit(std::strerror(errno)));
    struct stat facts
    {
    };
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        bytes = failed(error, path, QStringLiteral("it is no regular file"));
    } else if (facts.st_size > maxBytes) {
        bytes = failed(error, path, QStringLiteral("it is larger than %1 MiB").arg(maxBytes >> 20));
    } else {
        // Read to its end, not to the size it announces: the kernel's own files announce none,
        // and a file that grows while it is read is still bounded.
        QByteArray read;
        bool tooLarge = false;
        char block[65536];
        while (!tooLarge) {
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            tooLarge = read.size() + n > maxBytes;
            if (!tooLarge)
                read.append(block, n);
        }
        if (tooLarge)
            bytes =
                failed(error, path, QStringLiteral("it is larger than %1 MiB").arg(maxBytes >> 20));
        else
            bytes = std::move(read);
    }
    ::close(fd);
    return bytes;
}

QByteArray ReadSmallRegularFile(const QString& path, qint64 maxBytes)
{
    return ReadRegularFile(path, maxBytes).value_or(QByteArray());
}

IniText IniText::read(const QString& path)
{
    IniText ini;
    const std::optional<QByteArray> bytes = ReadRegularFile(path, qint64(1) << 20);
    if (!bytes)
        return ini;
    QString group;
    for (const QByteArray& raw : bytes->split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            group = line.mid(1, line.size() - 2);
            if (!ini.groups.contains(group))
                ini.groups << group;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0 && !group.isEmpty())
            ini.values.insert(group + u'/' + line.left(equals).trimmed(),
                              line.mid(equals + 1).trimmed());
    }
    return ini;
}
