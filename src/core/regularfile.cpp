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
    struct stat facts{};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        bytes = failed(error, path, QStringLiteral("it is no regular file"));
    } else if (facts.st_size > maxBytes) {
        bytes = failed(error, path,
                       QStringLiteral("it is larger than %1 MiB").arg(maxBytes >> 20));
    } else {
        QByteArray read(static_cast<qsizetype>(facts.st_size), Qt::Uninitialized);
        qsizetype at = 0;
        while (at < read.size()) {
            const ssize_t n = ::read(fd, read.data() + at, static_cast<size_t>(read.size() - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            at += n;
        }
        read.truncate(at); // a file cut while it was read is read as it is
        bytes = std::move(read);
    }
    ::close(fd);
    return bytes;
}
