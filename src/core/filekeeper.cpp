#include "filekeeper.h"

#include "atomicwrite.h"
#include "swfreferences.h"
#include "urlresolve.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace {

/// A named movie larger than this is not read for the files it names.
constexpr qint64 kMaxScannedMovie = qint64(64) << 20;

bool isMovieAddress(const QUrl& address)
{
    return address.path().endsWith(QStringLiteral(".swf"), Qt::CaseInsensitive);
}

} // namespace

FileKeeper::FileKeeper(const QString& folder, const QUrl& movieUrl, QObject* parent)
    : QObject(parent)
    , m_folder(folder)
    , m_movieUrl(movieUrl)
    , m_manifest(ReadManifest(folder))
{
    m_manifest.movieUrl = movieUrl.toString();
    m_get.BinaryData = false;
    m_get.UseCache = true;
    m_get.StallTimeout = 30;
    connect(&m_get, &THTTPGet::OnDoneFile, this, [this] { m_succeeded = true; });
    connect(&m_get, &THTTPGet::idle, this, [this] {
        if (!m_succeeded && m_get.addressGone() && m_archive.isOn())
            return askArchive();
        if (!m_succeeded)
            return finishRunning(nullptr, m_get.errorString());
        keepRunning();
    });
}

void FileKeeper::askArchive()
{
    const QPointer<FileKeeper> self(this);
    const QUrl address = m_running.address;
    const ArchiveAccess access = m_archive;
    const QString target = QDir(m_folder).filePath(m_runningPath);
    const qint64 room = kMaxKeptBytes - m_manifest.totalBytes();
    const QString reason = m_get.errorString();
    QThread* worker = QThread::create([=] {
        static const std::atomic<bool> kNeverCancelled{false};
        ArchivePace pace(access.paceMs);
        WebArchive archive(access.address, pace, kNeverCancelled);
        QString error;
        const std::optional<ArchivedCopy> copy =
            isMovieAddress(address) ? archive.newestMovie(address.toString(), &error)
                                    : archive.newestCapture(address.toString(), room, &error);
        QString written;
        const bool saved = copy && copy->body.size() <= room &&
                           WriteFileAtomically(target, {copy->body}, &written);
        QMetaObject::invokeMethod(
            qApp,
            [self, saved, reason, error, written] {
                if (!self)
                    return;
                if (saved)
                    self->keepRunning();
                else
                    self->finishRunning(nullptr,
                                        reason + QStringLiteral(", and ") +
                                            (!written.isEmpty() ? written
                                             : error.isEmpty()
                                                 ? QStringLiteral("the web archive has no copy")
                                                 : error));
            },
            Qt::QueuedConnection);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void FileKeeper::keepRunning()
{
    {
        KeptFile kept;
        kept.url = m_running.address.toString(QUrl::FullyEncoded);
        kept.path = m_runningPath;
        const QString file = QDir(m_folder).filePath(m_runningPath);
        kept.size = QFileInfo(file).size();
        kept.sha256 = FileSha256(file);
        kept.keptAt = QDateTime::currentDateTimeUtc();
        m_manifest.put(kept);
        QString error;
        if (!WriteManifest(m_folder, m_manifest, &error))
            return finishRunning(nullptr, error);
        ++m_newlyKept;
        if (m_follow && isMovieAddress(m_running.address))
            keepNamedFiles(file, m_running.address);
        emit fileKept(kept);
        finishRunning(m_manifest.byUrl(kept.url), {});
    }
}

QString FileKeeper::refusal(const QUrl& address, const std::optional<QString>& path) const
{
    if (!path)
        return QStringLiteral("its address names no file that can be kept");
    if (!MayFetchFor(address, m_movieUrl))
        return QStringLiteral("it is on this machine or a private network, not on the movie's "
                              "site");
    if (m_manifest.files.size() >= kMaxKeptFiles)
        return QStringLiteral("%1 files are kept for this movie already").arg(kMaxKeptFiles);
    if (m_manifest.totalBytes() >= kMaxKeptBytes)
        return QStringLiteral("the files kept for this movie take %1 MiB already")
            .arg(kMaxKeptBytes >> 20);
    return {};
}

void FileKeeper::keep(const QUrl& address, Done done)
{
    const QString url = address.toString(QUrl::FullyEncoded);
    if (const KeptFile* kept = m_manifest.byUrl(url);
        kept && QFileInfo(QDir(m_folder).filePath(kept->path)).isFile()) {
        m_keptUrls.insert(url);
        if (done) {
            const KeptFile copy = *kept;
            QTimer::singleShot(0, this, [done, copy] { done(&copy, {}); });
        }
        return;
    }
    if (!done && m_asked.contains(url))
        return;
    m_asked.insert(url);
    m_queue.push_back({address, std::move(done)});
    if (!m_busy)
        QTimer::singleShot(0, this, &FileKeeper::startNext);
}

bool FileKeeper::noteKept(const QUrl& address, QString* error)
{
    const std::optional<QString> path = KeptPathFor(address);
    const QString file = path ? QDir(m_folder).filePath(*path) : QString();
    if (!path || !QFileInfo(file).isFile()) {
        if (error)
            *error = QStringLiteral("no file is kept for ") + address.toString();
        return false;
    }
    m_manifest.put({address.toString(QUrl::FullyEncoded), *path, QFileInfo(file).size(),
                    FileSha256(file), QDateTime::currentDateTimeUtc()});
    m_keptUrls.insert(address.toString(QUrl::FullyEncoded));
    return WriteManifest(m_folder, m_manifest, error);
}

void FileKeeper::keepNamedFiles(const QString& movieFile, const QUrl& movieAddress)
{
    QFile file(movieFile);
    if (file.size() > kMaxScannedMovie || !file.open(QIODevice::ReadOnly))
        return;
    const std::optional<QByteArray> movie = UncompressedMovie(file.readAll(), 4 * kMaxScannedMovie);
    if (!movie)
        return;
    const ReferenceResolver resolver(movieAddress.toString());
    for (const QString& reference : NamedFileReferences(*movie)) {
        const QUrl address(resolver.resolve(reference));
        if (address.isValid() && address != movieAddress)
            keep(address);
    }
}

void FileKeeper::startNext()
{
    if (m_busy)
        return;
    while (!m_queue.empty()) {
        m_running = std::move(m_queue.front());
        m_queue.pop_front();
        const QString url = m_running.address.toString(QUrl::FullyEncoded);
        if (const KeptFile* kept = m_manifest.byUrl(url);
            kept && QFileInfo(QDir(m_folder).filePath(kept->path)).isFile()) {
            m_keptUrls.insert(url);
            if (m_running.done)
                m_running.done(kept, {});
            continue;
        }
        const std::optional<QString> path = KeptPathFor(m_running.address);
        if (const QString refused = refusal(m_running.address, path); !refused.isEmpty()) {
            m_failures << m_running.address.toString() + QStringLiteral(": ") + refused;
            if (m_running.done)
                m_running.done(nullptr, refused);
            continue;
        }
        m_busy = true;
        m_succeeded = false;
        m_runningPath = *path;
        const QString target = QDir(m_folder).filePath(m_runningPath);
        if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
            finishRunning(nullptr, CannotCreateFileMessage(QFileInfo(target).absolutePath()));
            return;
        }
        DownloadRequest request = m_get.request();
        request.url = m_running.address.toString(QUrl::FullyEncoded);
        request.fileName = target;
        request.flashMovieOnly = isMovieAddress(m_running.address);
        request.maxSize = kMaxKeptBytes - m_manifest.totalBytes();
        request.timeLimit = 300;
        m_get.StartTransfer(request);
        return;
    }
    emit idle();
}

void FileKeeper::finishRunning(const KeptFile* kept, const QString& error)
{
    m_busy = false;
    if (kept)
        m_keptUrls.insert(kept->url);
    else
        m_failures << m_running.address.toString() + QStringLiteral(": ") + error;
    const Done done = std::exchange(m_running.done, {});
    // The next transfer starts once this one's events are over.
    QTimer::singleShot(0, this, &FileKeeper::startNext);
    if (done)
        done(kept, error);
}
