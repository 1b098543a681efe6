#include "filekeeper.h"

#include "addresspolicy.h"
#include "atomicwrite.h"
#include "background.h"
#include "swfreferences.h"
#include "urlresolve.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    , m_room(std::make_shared<std::atomic<long long>>(kMaxKeptBytes - m_manifest.totalBytes()))
{
    m_manifest.movieUrl = movieUrl.toString();
    for (std::unique_ptr<Slot>& place : m_slots) {
        place = std::make_unique<Slot>();
        Slot& slot = *place;
        slot.get.BinaryData = false;
        slot.get.UseCache = true;
        slot.get.StallTimeout = 30;
        // A movie's files mostly come from its own site: each slot keeps its connection for
        // its next file while the burst lasts.
        slot.get.keepConnections();
        connect(&slot.get, &THTTPGet::OnDoneFile, this, [&slot] { slot.succeeded = true; });
        connect(&slot.get, &THTTPGet::idle, this, [this, &slot] {
            if (!slot.succeeded && slot.get.addressGone() && m_archive.isOn())
                return askArchive(slot);
            if (!slot.succeeded)
                return finishRunning(slot, nullptr, slot.get.errorString());
            keepRunning(slot);
        });
    }
}

void FileKeeper::askArchive(Slot& slot)
{
    Slot* asking = &slot;
    const QUrl address = slot.request.address;
    const ArchiveAccess access = m_archive;
    const QString target = QDir(m_folder).filePath(slot.path);
    const qint64 room = m_room->load();
    const QString reason = slot.get.errorString();
    // The answer reaches this keeper only while it lives; a keeper that goes stops the asking.
    Background::run(this, [=, this](const BackgroundTask& task) {
        ArchivePace pace(access.paceMs);
        WebArchive archive(access.address, pace, task.stopped());
        QString error;
        const std::optional<ArchivedCopy> copy =
            isMovieAddress(address) ? archive.newestMovie(address.toString(), &error)
                                    : archive.newestCapture(address.toString(), room, &error);
        QString written;
        const bool saved =
            copy && copy->body.size() <= room && ReplaceFileWith(target, copy->body, &written);
        task.post([this, asking, saved, reason, error, written] {
            if (saved)
                return keepRunning(*asking);
            finishRunning(*asking, nullptr,
                          reason + QStringLiteral(", and ") +
                              (!written.isEmpty() ? written
                               : error.isEmpty()  ? QStringLiteral("the web archive has no copy")
                                                  : error));
        });
    });
}

void FileKeeper::keepRunning(Slot& slot)
{
    KeptFile kept;
    kept.url = slot.request.address.toString(QUrl::FullyEncoded);
    kept.path = slot.path;
    const QString file = QDir(m_folder).filePath(slot.path);
    kept.size = QFileInfo(file).size();
    // Taken by the transfer as it wrote the file; a file from the archive is read again.
    kept.sha256 =
        slot.succeeded && !slot.get.sha256().isEmpty() ? slot.get.sha256() : FileSha256(file);
    kept.keptAt = QDateTime::currentDateTimeUtc();
    if (!slot.succeeded)
        m_room->fetch_sub(kept.size); // an archive's copy: no transfer counted it as it came
    m_manifest.put(kept);
    // The manifest is written once a burst of files is in: a file on disk that a crash left
    // out of it is only fetched again.
    m_manifestDirty = true;
    ++m_newlyKept;
    if (m_follow && isMovieAddress(slot.request.address))
        keepNamedFiles(file, slot.request.address);
    emit fileKept(kept);
    finishRunning(slot, m_manifest.byUrl(kept.url), {});
}

void FileKeeper::writeManifest()
{
    if (!m_manifestDirty)
        return;
    m_manifestDirty = false;
    m_manifestError.clear();
    if (!WriteManifest(m_folder, m_manifest, &m_manifestError)) {
        m_failures << m_manifestError;
        m_manifestDirty = true; // tried again with the next file
    }
}

FileKeeper::~FileKeeper()
{
    writeManifest();
}

QString FileKeeper::refusal(const QUrl& address, const std::optional<QString>& path) const
{
    if (!path)
        return QStringLiteral("its address names no file that can be kept");
    if (!MayFetchFor(address, m_movieUrl))
        return QStringLiteral("it is on this machine or a private network, not on the movie's "
                              "site");
    // The files under way count: parallel transfers together never pass the bounds.
    if (m_manifest.files.size() + m_running >= kMaxKeptFiles)
        return QStringLiteral("%1 files are kept for this movie already").arg(kMaxKeptFiles);
    if (m_room->load() <= 0)
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
    if (m_running < kParallel)
        scheduleStart();
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
    m_room->fetch_sub(QFileInfo(file).size());
    m_manifest.put({address.toString(QUrl::FullyEncoded), *path, QFileInfo(file).size(),
                    FileSha256(file), QDateTime::currentDateTimeUtc()});
    m_keptUrls.insert(address.toString(QUrl::FullyEncoded));
    m_manifestDirty = true; // written with the files that follow
    return true;
}

void FileKeeper::keepNamedFiles(const QString& movieFile, const QUrl& movieAddress)
{
    const ReferenceResolver resolver(movieAddress.toString());
    for (const QString& reference : NamedFileReferencesOfFile(movieFile, kMaxScannedMovie)) {
        const QUrl address(resolver.resolve(reference));
        if (address.isValid() && address != movieAddress)
            keep(address);
    }
}

void FileKeeper::scheduleStart()
{
    // One start at a time is pending, so that a burst ends in one idle signal, not one per file.
    if (std::exchange(m_startPending, true))
        return;
    QTimer::singleShot(0, this, &FileKeeper::startNext);
}

void FileKeeper::startNext()
{
    m_startPending = false;
    for (std::unique_ptr<Slot>& place : m_slots) {
        Slot& slot = *place;
        if (slot.busy)
            continue;
        while (!slot.busy && !m_queue.empty()) {
            Request request = std::move(m_queue.front());
            m_queue.pop_front();
            const QString url = request.address.toString(QUrl::FullyEncoded);
            if (const KeptFile* kept = m_manifest.byUrl(url);
                kept && QFileInfo(QDir(m_folder).filePath(kept->path)).isFile()) {
                m_keptUrls.insert(url);
                if (request.done)
                    request.done(kept, {});
                continue;
            }
            // A file asked for twice at once is fetched once: the second waits for the first.
            const bool running =
                std::any_of(m_slots.cbegin(), m_slots.cend(), [&](const auto& other) {
                    return other->busy && other->request.address == request.address;
                });
            if (running) {
                m_queue.push_back(std::move(request));
                break;
            }
            const std::optional<QString> path = KeptPathFor(request.address);
            if (const QString refused = refusal(request.address, path); !refused.isEmpty()) {
                m_failures << request.address.toString() + QStringLiteral(": ") + refused;
                if (request.done)
                    request.done(nullptr, refused);
                continue;
            }
            start(slot, std::move(request), *path);
        }
    }
    if (isIdle()) {
        // Connections left open would hold a server's places while nothing more is asked.
        for (std::unique_ptr<Slot>& slot : m_slots) {
            slot->get.dropConnections();
            slot->get.keepConnections();
        }
        writeManifest();
        emit idle();
    }
}

void FileKeeper::start(Slot& slot, Request request, const QString& path)
{
    slot.busy = true;
    slot.succeeded = false;
    slot.request = std::move(request);
    slot.path = path;
    ++m_running;
    const QString target = QDir(m_folder).filePath(path);
    if (!HasNoLinkBelow(m_folder, QFileInfo(path).path())) {
        finishRunning(slot, nullptr, QStringLiteral("a link stands in the way of ") + path);
        return;
    }
    transfer::Request transfer = slot.get.request();
    SetWebAddress(transfer, slot.request.address.toString(QUrl::FullyEncoded), target);
    // The check above is by path, to say it early; the writer makes and opens each folder below
    // without following a link, so one planted meanwhile leads nowhere either.
    transfer.folder = QFile::encodeName(m_folder).toStdString();
    transfer.flashMovieOnly = isMovieAddress(slot.request.address);
    // The bytes still allowed, shared with the other transfers as they write.
    transfer.maxSize = std::max<long long>(0, m_room->load());
    transfer.sharedRoom = m_room;
    transfer.timeLimitMs = 300 * 1000;
    transfer.sha256 = true;
    // What the movie names may lie anywhere: only its own site and the public web are reached,
    // wherever a name resolves or a redirect leads.
    transfer.publicOnly = true;
    transfer.allowedOrigin =
        transfer::OriginOf(m_movieUrl.toString(QUrl::FullyEncoded).toStdString());
    slot.get.StartTransfer(transfer);
}

void FileKeeper::finishRunning(Slot& slot, const KeptFile* kept, const QString& error)
{
    slot.busy = false;
    --m_running;
    if (kept)
        m_keptUrls.insert(kept->url);
    else
        m_failures << slot.request.address.toString() + QStringLiteral(": ") + error;
    if (error.startsWith(QStringLiteral("refused to fetch")))
        qInfo("Clip Vault: %s", qPrintable(error));
    const Done done = std::exchange(slot.request.done, {});
    // The next transfers start once this one's events are over.
    scheduleStart();
    if (done)
        done(kept, error);
}
