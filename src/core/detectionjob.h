#pragma once

#include "cacheenumerator.h"
#include "cachepass.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

/// A detection run off the user-interface thread: the pages of an address level by level, then
/// the cached movies of its site; or the cached movies of every site. Rows arrive by signal on
/// the owner's thread as they are found; cancelling ends a running fetch at once.
class DetectionJob final : public QObject
{
    Q_OBJECT
public:
    using CacheSource = std::function<QList<CacheLocation>()>;

    /// `caches` says where the browser caches are (the user's, or a test's).
    explicit DetectionJob(CacheSource caches, QObject* parent = nullptr);
    /// Cancels a running detection and waits for its worker.
    ~DetectionJob() override;
    Q_DISABLE_COPY_MOVE(DetectionJob)

    /// Detects the movies of the page at `address` and its frames, then those of its site in the
    /// cache. `listed` are the addresses on the list already, which the cache pass skips.
    void startWebPage(const QString& address, const QStringList& listed);
    /// A page that no longer answers is then scanned in the web archive at `address` (empty:
    /// never), its requests `paceMs` apart.
    void setWebArchive(const QString& address, int paceMs)
    {
        m_archiveAddress = address;
        m_archivePaceMs = paceMs;
    }
    /// Lists every cached movie not `listed` yet.
    void startCache(const QStringList& listed);
    void cancel();
    bool isRunning() const { return m_worker.joinable() && !m_done; }

signals:
    /// Movies found, to be listed in this order (a page level's, or the cache pass's).
    void moviesFound(const QStringList& addresses);
    /// The pages held more than one detection lists; comes before finished.
    void limitReached(const QString& notice);
    /// The detection ended; `error` says why when a fetch failed or it was cancelled.
    void finished(const QString& error);
    /// What the detection is doing or did that the user should read: a wait for the web
    /// archive, or that the movies come from its copy of a page.
    void status(const QString& text);
    /// The movies listed are those of the web archive's copy of the page; comes before
    /// finished.
    void archiveCopyUsed(const QString& notice);

private:
    void run(std::function<QString()> work);
    void cachePass(const QString& host, bool allHosts, DetectionResults& results);
    void deliver(const QStringList& addresses);
    void tell(void (DetectionJob::*signal)(const QString&), const QString& text);
    /// The page and its frames as the web archive kept them; the error, or empty.
    QString archivedPages(const QString& address, DetectionResults& results);

    QString m_archiveAddress;
    int m_archivePaceMs = 2500;

    CacheSource m_caches;
    std::thread m_worker;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_done{true};
};
