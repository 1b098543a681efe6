#include "detectionjob.h"

#include "cacheenumerator.h"
#include "fetch.h"
#include "pagedetection.h"
#include "webarchive.h"

namespace {

const QString kCancelled = QStringLiteral("the detection was cancelled");

} // namespace

/// What a run's worker holds: its own copies of the job's settings, and the way back to the job,
/// whose signals it emits only through calls posted to the job's thread (the job may be gone).
class DetectionJob::Run
{
public:
    Run(const BackgroundTask& task, DetectionJob* job, CacheSource caches, Archive archive)
        : m_task(task)
        , m_job(job)
        , m_caches(std::move(caches))
        , m_archive(std::move(archive))
    {
    }

    const std::atomic<bool>& cancelled() const { return m_task.stopped(); }
    const Archive& archive() const { return m_archive; }
    QString endOf(const QString& error) const { return cancelled() ? kCancelled : error; }

    /// Emits `signal(arguments…)` on the job's thread.
    template <typename... Signal, typename... Arguments>
    void tell(void (DetectionJob::*signal)(Signal...), Arguments... arguments) const
    {
        m_task.post([job = m_job, signal, arguments...] { (job->*signal)(arguments...); });
    }
    void deliver(const QStringList& addresses) const
    {
        if (!addresses.isEmpty())
            tell(&DetectionJob::moviesFound, addresses);
    }

    void cachePass(const QString& host, bool allHosts, DetectionResults& results) const;
    /// The page and its frames as the web archive kept them; the error, or empty.
    QString archivedPages(const QString& address, DetectionResults& results) const;

private:
    const BackgroundTask& m_task;
    DetectionJob* m_job;
    CacheSource m_caches;
    Archive m_archive;
};

DetectionJob::DetectionJob(CacheSource caches, QObject* parent)
    : QObject(parent)
    , m_caches(std::move(caches))
{
}

DetectionJob::~DetectionJob()
{
    cancel();
}

void DetectionJob::cancel()
{
    m_task.cancel();
}

void DetectionJob::run(std::function<QString(const Run&)> work)
{
    if (m_running)
        return;
    m_running = true;
    m_task = Background::run(this, [this, work = std::move(work), caches = m_caches,
                                    archive = m_archive](const BackgroundTask& task) {
        const QString error = work(Run(task, this, caches, archive));
        task.post([this, error] {
            m_running = false;
            emit finished(error);
        });
    });
}

void DetectionJob::Run::cachePass(const QString& host, bool allHosts,
                                  DetectionResults& results) const
{
    const int before = static_cast<int>(results.rows().size());
    CacheEnumerator(m_caches()).EnumerateEntries([&](const CacheEntry& entry, bool& stop) {
        stop = cancelled();
        CachePassEntry(entry, host, allHosts, results);
    });
    QStringList found;
    for (int i = before; i < results.rows().size(); ++i)
        found << results.rows()[i].address;
    deliver(found);
}

void DetectionJob::startWebPage(const QString& address, const QStringList& listed)
{
    run([address, listed](const Run& run) {
        DetectionResults results;
        results.AddResultRows(listed);
        transfer::Connections connections; // a site's pages come over one connection
        PageDetection detection(
            [&run, &connections](const QString& url, int deadlineMs) {
                return FetchPage(url, run.cancelled(), deadlineMs, &connections);
            },
            run.cancelled());
        const QString error = detection.run(address, [&](const QStringList& movies) {
            results.AddResultRows(movies);
            run.deliver(movies);
        });
        if (const QString notice = detection.limitNotice(); !notice.isEmpty()) {
            run.tell(&DetectionJob::limitReached, notice);
            return error; // the list is full: the cache adds nothing more
        }
        // A page that is gone may live on in the web archive.
        if (!error.isEmpty() && detection.firstPageGone() && run.archive().forDeadPages &&
            run.archive().isOn())
            return run.archivedPages(address, results);
        if (!error.isEmpty())
            return error;
        run.cachePass(CacheHostOf(address), false, results);
        return run.endOf({});
    });
}

QString DetectionJob::Run::archivedPages(const QString& address, DetectionResults& results) const
{
    tell(&DetectionJob::status,
         QStringLiteral("The page no longer answers: asking the web archive"));
    ArchivePace pace(m_archive.paceMs);
    WebArchive archive(m_archive.address, pace, cancelled(),
                       [this](const QString& what) { tell(&DetectionJob::status, what); });
    // Each page from its capture: the first the newest, its frames the nearest to it in time.
    // References resolve against the pages' original addresses, not the archive's.
    QString firstTimestamp;
    DetectionLimits limits;
    limits.followFramesets = true; // the sites of that time used them
    limits.pageDeadlineMs = 5 * 60 * 1000;
    limits.totalDeadlineMs = m_archive.paceMs * PageDetection::kMaxPages + 60 * 1000;
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
        cancelled(), limits);
    const QString error = detection.run(address, [&](const QStringList& movies) {
        results.AddResultRows(movies);
        deliver(movies);
    });
    if (!firstTimestamp.isEmpty())
        tell(&DetectionJob::archiveCopyUsed,
             QStringLiteral("the page no longer answers: these are the movies of the web "
                            "archive's copy of %1")
                 .arg(CaptureDateText(firstTimestamp)));
    return endOf(firstTimestamp.isEmpty() ? error : QString());
}

void DetectionJob::startCache(const QStringList& listed)
{
    run([listed](const Run& run) {
        DetectionResults results;
        results.AddResultRows(listed);
        run.cachePass(QString(), true, results);
        return run.endOf({});
    });
}

void DetectionJob::startWebArchive(const QString& address)
{
    run([address](const Run& run) {
        ArchivePace pace(run.archive().paceMs);
        WebArchive archive(run.archive().address, pace, run.cancelled(),
                           [&run](const QString& what) { run.tell(&DetectionJob::status, what); });
        QString error;
        QString cutShort;
        const std::optional<QList<ArchiveCapture>> movies = archive.moviesUnder(
            address,
            [&run](int found) {
                run.tell(&DetectionJob::status,
                         QStringLiteral("Searching the web archive: %1 movies found").arg(found));
            },
            &error, &cutShort);
        run.tell(&DetectionJob::archiveListed, movies.value_or(QList<ArchiveCapture>{}), cutShort);
        return error;
    });
}
