#include "httpgetthread.h"

#include "curlbasics.h"

THTTPGetThread::THTTPGetThread(DownloadRequest settings, std::shared_ptr<TransferShared> shared)
    : m_settings(std::move(settings))
    , m_shared(std::move(shared))
{
    InitCurlOnce(); // on the owning thread: libcurl's set-up is not safe on two at once
}

void THTTPGetThread::run()
{
    m_shared->outcome = TransferToFile(m_settings, *this);
}

bool THTTPGetThread::cancelled() const
{
    return m_shared->cancelled;
}

// The latest figures wait for the owning thread, which takes them when it gets to them; the
// transfer never waits for it (a busy window would slow every download down). Figures not taken
// yet are replaced, and announced once.
void THTTPGetThread::progress(qint64 total, qint64 read)
{
    if (m_shared->detached)
        return;
    bool announce = false;
    {
        std::lock_guard lock(m_shared->mutex);
        announce = !m_shared->progressPending;
        m_shared->progressPending = true;
        m_shared->progressTotal = total;
        m_shared->progressRead = read;
    }
    if (announce)
        emit progressReady();
}
