#include "cachedcopy.h"

#include "cacheenumerator.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>

namespace {

/// The cached body of `url`, whole; empty when no cache holds it or it is larger than the bound.
QByteArray cachedBody(const QList<CacheLocation>& locations, const QString& url)
{
    std::optional<CacheEntry> found;
    CacheEnumerator(locations).EnumerateEntries([&](const CacheEntry& entry, bool& cancel) {
        if (entry.url == url) {
            found = entry;
            cancel = true;
        }
    });
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("copy"));
    if (!found || !folder.isValid() || !ExtractCachedBody(*found, file))
        return {};
    QFile copy(file);
    if (!copy.open(QIODevice::ReadOnly) || copy.size() > kMaxCachedCopy)
        return {};
    return copy.readAll();
}

} // namespace

DownloadFlow::Fallback CachedCopyFallback(DetectionJob::CacheSource caches)
{
    return
        [caches = std::move(caches)](const QString& url, const QString&, QObject* context,
                                     std::function<void(const DownloadFlow::FallbackCopy&)> use) {
            const QPointer<QObject> asker(context);
            QThread* worker = QThread::create([caches, url, asker, use] {
                const QByteArray body = caches ? cachedBody(caches(), url) : QByteArray();
                QMetaObject::invokeMethod(
                    qApp,
                    [asker, use, body] {
                        if (asker)
                            use({body, QStringLiteral("the browser cache's copy")});
                    },
                    Qt::QueuedConnection);
            });
            QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
            worker->start();
        };
}
