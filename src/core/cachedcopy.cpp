#include "cachedcopy.h"

#include "background.h"
#include "cacheenumerator.h"

#include <QFile>
#include <QTemporaryDir>

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
            Background::run(context, [caches, url, use](const BackgroundTask& task) {
                const QByteArray body = caches ? cachedBody(caches(), url) : QByteArray();
                task.post([use, body] { use({body, QStringLiteral("the browser cache's copy")}); });
            });
        };
}
