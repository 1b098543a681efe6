#include "previewfolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace {

constexpr char kLockName[] = ".running";
constexpr char kPattern[] = "preview-";

int openLock(const QString& folder, int flags)
{
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(QLatin1String(kLockName)));
    return ::open(path.constData(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
}

/// Whether the run that made `folder` is gone: nobody holds its lock, or, without one, it was
/// left untouched for a day.
bool ownerIsGone(const QString& folder)
{
    const int lock = openLock(folder, O_RDONLY);
    if (lock < 0) {
        return QFileInfo(folder).lastModified().secsTo(QDateTime::currentDateTime()) > 24 * 60 * 60;
    }
    // A lock made this minute may belong to a run that has not taken it yet.
    struct stat facts = {};
    const bool settled = ::fstat(lock, &facts) == 0 && ::time(nullptr) - facts.st_mtime > 60;
    const bool free = settled && ::flock(lock, LOCK_EX | LOCK_NB) == 0;
    ::close(lock);
    return free;
}

} // namespace

PreviewFolder::PreviewFolder(const QString& cacheFolder)
    : m_folder(QDir(cacheFolder).filePath(QLatin1String(kPattern) + QStringLiteral("XXXXXX")))
{
    if (!m_folder.isValid())
        return;
    m_lock = openLock(m_folder.path(), O_RDWR | O_CREAT | O_EXCL);
    if (m_lock >= 0)
        ::flock(m_lock, LOCK_EX | LOCK_NB);
}

PreviewFolder::~PreviewFolder()
{
    if (m_lock >= 0)
        ::close(m_lock);
}

int PreviewFolder::RemoveDead(const QString& cacheFolder)
{
    int removed = 0;
    const QDir cache(cacheFolder);
    const QStringList folders =
        cache.entryList({QLatin1String(kPattern) + u'*'},
                        QDir::Dirs | QDir::NoSymLinks | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : folders) {
        const QString folder = cache.filePath(name);
        if (ownerIsGone(folder) && QDir(folder).removeRecursively())
            ++removed;
    }
    return removed;
}
