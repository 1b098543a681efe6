#pragma once

#include "background.h"
#include "cacheenumerator.h"
#include "cachepass.h"
#include "webarchive.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

/// A detection run off the user-interface thread: the pages of an address level by level, then
/// the cached movies of its site; the cached movies of every site; or the movies the web archive
/// holds under an address. Rows arrive by signal on the owner's thread as they are found;
/// cancelling ends a running fetch at once, and a job that goes takes its run along.
class DetectionJob final : public QObject
{
    Q_OBJECT
public:
    using CacheSource = std::function<QList<CacheLocation>()>;

    /// `caches` says where the browser caches are (the user's, or a test's).
    explicit DetectionJob(CacheSource caches, QObject* parent = nullptr);
    /// Cancels a running detection.
    ~DetectionJob() override;
    Q_DISABLE_COPY_MOVE(DetectionJob)

    /// Detects the movies of the page at `address` and its frames, then those of its site in the
    /// cache. `listed` are the addresses on the list already, which the cache pass skips.
    void startWebPage(const QString& address, const QStringList& listed);
    /// The web archive at `address` (empty: none), its requests `paceMs` apart; a page that no
    /// longer answers is scanned there when `forDeadPages`.
    void setWebArchive(const QString& address, int paceMs, bool forDeadPages = true)
    {
        m_archive = {{address, paceMs}, forDeadPages};
    }
    /// Lists every cached movie not `listed` yet.
    void startCache(const QStringList& listed);
    /// Lists the movies the web archive kept under `address` (archiveListed, then finished).
    void startWebArchive(const QString& address);
    void cancel();
    bool isRunning() const { return m_running; }

    /// Where the web archive is, as a run takes it along, and whether dead pages go there.
    struct Archive : ArchiveAccess
    {
        bool forDeadPages = true;
    };

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
    /// The web archive's movies under an address (`cutShort`: why the list stopped early, when
    /// it did); comes before finished.
    void archiveListed(const QList<ArchiveCapture>& movies, const QString& cutShort);

private:
    class Run;
    /// Starts `work` unless a run is on; its answer is the error, or empty.
    void run(std::function<QString(const Run&)> work);

    Archive m_archive;
    CacheSource m_caches;
    Background::Handle m_task;
    bool m_running = false;
};
