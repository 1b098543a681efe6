#pragma once

#include "filetransfer.h"
#include "httpget.h"

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

    TransferOutcome outcome; ///< written by the worker before it ends, read after `finished`
};

/// The worker thread of one transfer. Progress is left for the owning thread, which takes the
/// latest figures when it gets to them; the worker never waits for it.
class THTTPGetThread final : public QThread, private TransferWatcher
{
    Q_OBJECT
public:
    THTTPGetThread(DownloadRequest settings, std::shared_ptr<TransferShared> shared);

signals:
    /// A progress report is ready in the shared state.
    void progressReady();

protected:
    void run() override;

private:
    bool cancelled() const override;
    void progress(qint64 total, qint64 read) override;

    const DownloadRequest m_settings;
    const std::shared_ptr<TransferShared> m_shared;
};
