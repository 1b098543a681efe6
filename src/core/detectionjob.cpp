#include "detectionjob.h"

#include "cacheenumerator.h"
#include "pagedetection.h"
#include "webarchive.h"

DetectionJob::DetectionJob(CacheSource caches, QObject* parent)
    : QObject(parent)
    , m_caches(std::move(caches))
{
}

DetectionJob::~DetectionJob()
{
    cancel();
    if (m_worker.joinable())
        m_worker.join();
}

void DetectionJob::cancel()
{
    m_cancelled = true;
}

void DetectionJob::deliver(const QStringList& addresses)
{
    if (addresses.isEmpty())
        return;
    QMetaObject::invokeMethod(
        this, [this, addresses] { emit moviesFound(addresses); }, Qt::QueuedConnection);
}

void DetectionJob::run(std::function<QString()> work)
{
    if (isRunning())
        return;
    if (m_worker.joinable())
        m_worker.join(); // the last one has ended
    m_cancelled = false;
    m_done = false;
    m_worker = std::thread([this, work = std::move(work)] {
        const QString error = work();
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                m_done = true;
                emit finished(error);
            },
            Qt::QueuedConnection);
    });
}

void DetectionJob::cachePass(const QString& host, bool allHosts, DetectionResults& results)
{
    const int before = static_cast<int>(results.rows().size());
    CacheEnumerator(m_caches()).EnumerateEntries([&](const CacheEntry& entry, bool& stop) {
        stop = m_cancelled;
        CachePassEntry(entry, host, allHosts, results);
    });
    QStringList found;
    for (int i = before; i < results.rows().size(); ++i)
        found << results.rows()[i].address;
    deliver(found);
}

void DetectionJob::startWebPage(const QString& address, const QStringList& listed)
{
    run([this, address, listed] {
        DetectionResults results;
        results.AddResultRows(listed);
        PageDetection detection(
            [this](const QString& url, int deadlineMs) {
                return FetchPage(url, m_cancelled, deadlineMs);
            },
            m_cancelled);
        const QString error = detection.run(address, [&](const QStringList& movies) {
            results.AddResultRows(movies);
            deliver(movies);
        });
        if (const QString notice = detection.limitNotice(); !notice.isEmpty()) {
            QMetaObject::invokeMethod(
                this, [this, notice] { emit limitReached(notice); }, Qt::QueuedConnection);
            return error; // the list is full: the cache adds nothing more
        }
        // A page that is gone may live on in the web archive.
        if (!error.isEmpty() && detection.firstPageGone() && !m_archiveAddress.isEmpty())
            return archivedPages(address, results);
        if (!error.isEmpty())
            return error;
        cachePass(CacheHostOf(address), false, results);
        return m_cancelled ? QStringLiteral("the detection was cancelled") : QString();
    });
}

void DetectionJob::tell(void (DetectionJob::*signal)(const QString&), const QString& text)
{
    QMetaObject::invokeMethod(
        this, [this, signal, text] { emit(this->*signal)(text); }, Qt::QueuedConnection);
}

QString DetectionJob::archivedPages(const QString& address, DetectionResults& results)
{
    tell(&DetectionJob::status,
         QStringLiteral("The page no longer answers: asking the web archive"));
    ArchivePace pace(m_archivePaceMs);
    WebArchive archive(m_archiveAddress, pace, m_cancelled,
                       [this](const QString& what) { tell(&DetectionJob::status, what); });
    // Each page from its capture: the first the newest, its frames the nearest to it in time.
    // References resolve against the pages' original addresses, not the archive's.
    QString firstTimestamp;
    QString firstError;
    DetectionLimits limits;
    limits.followFramesets = true; // the sites of that time used them
    limits.pageDeadlineMs = 5 * 60 * 1000;
    limits.totalDeadlineMs = m_archivePaceMs * PageDetection::kMaxPages + 60 * 1000;
    PageDetection detection(
        [&](const QString& url, int) {
            PageReply reply;
            QString error;
            const std::optional<ArchivedCopy> copy =
                archive.newestCapture(WithDefaultScheme(url), kMaxPageBody, &error, firstTimestamp);
            if (!copy) {
                reply.error = error.isEmpty()
                                  ? QStringLiteral("the web archive has no copy of ") + url
                                  : error;
                return reply;
            }
            if (firstTimestamp.isEmpty())
                firstTimestamp = copy->timestamp;
            tell(&DetectionJob::status,
                 QStringLiteral("Scanning the web archive's copy of %1").arg(url));
            reply.ok = true;
            reply.body = copy->body;
            reply.finalUrl = WithDefaultScheme(url);
            return reply;
        },
        m_cancelled, limits);
    const QString error = detection.run(address, [&](const QStringList& movies) {
        results.AddResultRows(movies);
        deliver(movies);
    });
    if (!firstTimestamp.isEmpty())
        tell(&DetectionJob::archiveCopyUsed,
             QStringLiteral("the page no longer answers: these are the movies of the web "
                            "archive's copy of %1")
                 .arg(CaptureDateText(firstTimestamp)));
    if (m_cancelled)
        return QStringLiteral("the detection was cancelled");
    return firstTimestamp.isEmpty() ? error : QString();
}

void DetectionJob::startCache(const QStringList& listed)
{
    run([this, listed] {
        DetectionResults results;
        results.AddResultRows(listed);
        cachePass(QString(), true, results);
        return m_cancelled ? QStringLiteral("the detection was cancelled") : QString();
    });
}
