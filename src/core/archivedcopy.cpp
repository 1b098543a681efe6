#include "archivedcopy.h"

#include "background.h"
#include "webarchive.h"

DownloadFlow::Fallback WebArchiveFallback(ArchiveAccess where, std::function<bool()> enabled,
                                          std::function<void(const QString&)> waiting)
{
    return [=](const QString& url, const QString&, QObject* context,
               std::function<void(const DownloadFlow::FallbackCopy&)> use) {
        if (enabled && !enabled()) {
            use({});
            return;
        }
        Background::run(context, [=](const BackgroundTask& task) {
            ArchivePace pace(where.paceMs);
            WebArchive archive(where.address, pace, task.stopped(), [&](const QString& what) {
                if (waiting)
                    task.post([waiting, what] { waiting(what); });
            });
            QString error;
            const std::optional<ArchivedCopy> copy = archive.newestMovie(url, &error);
            DownloadFlow::FallbackCopy answer;
            if (copy) {
                answer.body = copy->body;
                answer.from =
                    QStringLiteral("the web archive's copy of ") + CaptureDateText(copy->timestamp);
                answer.capture = copy->captureUrl;
                answer.captureTime = copy->timestamp;
            } else {
                answer.absentNote =
                    error.isEmpty() ? QStringLiteral("the web archive has no copy") : error;
            }
            task.post([use, answer] { use(answer); });
        });
    };
}
