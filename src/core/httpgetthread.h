#pragma once

#include "httpget.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

/// What the worker and its component share: the cancel request, the result, and the latest
/// progress. Everything else the worker owns.
struct TransferShared
{
    std::atomic<bool> cancelled{false};
    std::atomic<bool> detached{false}; ///< the component is gone: deliver nothing

    std::mutex mutex;
    bool progressPending = false; ///< figures the owning thread has not taken yet
    qint64 progressTotal = 0;
    qint64 progressRead = 0;

    // Written by the worker before it ends, read by the component after `finished`.
    bool succeeded = false;
    qint64 fileSize = 0;
    QString error;
    bool addressGone = false; ///< the failure says the address no longer gives the file
    QByteArray sha256;        ///< hex, of the body written, when asked for
};

/// The worker thread of one transfer (libcurl). Progress is left for the owning thread, which
/// takes the latest figures when it gets to them; the worker never waits for it.
class THTTPGetThread final : public QThread
{
    Q_OBJECT
public:
    THTTPGetThread(DownloadRequest settings, std::shared_ptr<TransferShared> shared);

    struct Transfer;
    /// Takes body bytes from libcurl; false ends the transfer as failed.
    bool receive(Transfer& transfer, const char* data, std::size_t size);
    bool isCancelled() const;

signals:
    /// A progress report is ready in the shared state.
    void progressReady();

protected:
    void run() override;

private:
    bool perform(Transfer& transfer);
    bool handOffProgress(qint64 total, qint64 read);

    const DownloadRequest m_settings;
    const std::shared_ptr<TransferShared> m_shared;
};

/// The URL as libcurl takes it: a URL without a scheme is a plain web address ("host/a.swf"),
/// and characters a URL may not hold are encoded as a browser would (percent-encoded UTF-8 in
/// the path and query, an international host name in its ASCII form).
QByteArray TransferUrl(const QString& url);

/// Whether the bytes begin as a Flash movie does: "FWS" (plain), "CWS" (zlib) or "ZWS" (LZMA).
bool BeginsAsFlashMovie(QByteArrayView head);
