#include "detectionjob.h"

#include "cacheenumerator.h"
#include "pagedetection.h"

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
        for (const QString& row : listed)
            results.AddResultRow(row);
        PageDetection detection(
            [this](const QString& url, int deadlineMs) {
                return FetchPage(url, m_cancelled, deadlineMs);
            },
            m_cancelled);
        const QString error = detection.run(address, [&](const QStringList& movies) {
            for (const QString& movie : movies)
                results.AddResultRow(movie);
            deliver(movies);
        });
        if (const QString notice = detection.limitNotice(); !notice.isEmpty()) {
            QMetaObject::invokeMethod(
                this, [this, notice] { emit limitReached(notice); }, Qt::QueuedConnection);
            return error; // the list is full: the cache adds nothing more
        }
        if (!error.isEmpty())
            return error;
        cachePass(CacheHostOf(address), false, results);
        return m_cancelled ? QStringLiteral("the detection was cancelled") : QString();
    });
}

void DetectionJob::startCache(const QStringList& listed)
{
    run([this, listed] {
        DetectionResults results;
        for (const QString& row : listed)
            results.AddResultRow(row);
        cachePass(QString(), true, results);
        return m_cancelled ? QStringLiteral("the detection was cancelled") : QString();
    });
}
