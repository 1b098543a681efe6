#include "archivedcopy.h"

#include "webarchive.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

DownloadFlow::Fallback WebArchiveFallback(QString archiveAddress, int paceMs,
                                          std::function<bool()> enabled,
                                          std::function<void(const QString&)> waiting)
{
    return [=](const QString& url, const QString&, QObject* context,
               std::function<void(const DownloadFlow::FallbackCopy&)> use) {
        if (enabled && !enabled()) {
            use({});
            return;
        }
        const QPointer<QObject> asker(context);
        const auto onCallersThread = [asker](std::function<void()> call) {
            QMetaObject::invokeMethod(
                qApp,
                [asker, call = std::move(call)] {
                    if (asker)
                        call();
                },
                Qt::QueuedConnection);
        };
        QThread* worker = QThread::create([=] {
            static const std::atomic<bool> kNeverCancelled{false};
            ArchivePace pace(paceMs);
            WebArchive archive(archiveAddress, pace, kNeverCancelled, [&](const QString& what) {
                if (waiting)
                    onCallersThread([waiting, what] { waiting(what); });
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
            onCallersThread([use, answer] { use(answer); });
        });
        QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
        worker->start();
    };
}
