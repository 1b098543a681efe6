#include "httpget.h"

#include "httpgetthread.h"

#include <QCoreApplication>
#include <QEventLoop>

QString THTTPGet::DefaultAgent()
{
    return DownloadRequest().agent;
}

THTTPGet::THTTPGet(QObject* parent)
    : QObject(parent)
{
}

THTTPGet::~THTTPGet()
{
    if (!m_worker)
        return;
    m_shared->detached = true;
    CancelTransfer();
    m_worker->disconnect(this);
    // The worker notices the cancel within a fraction of a second, even inside a connect.
    m_worker->wait();
    delete m_worker;
}

DownloadRequest THTTPGet::request() const
{
    DownloadRequest request;
    request.acceptTypes = AcceptTypes;
    request.agent = Agent;
    request.url = URL;
    request.fileName = FileName;
    request.userName = UserName;
    request.password = Password;
    request.postQuery = PostQuery;
    request.referer = Referer;
    request.caCertificates = CaCertificates;
    request.binaryData = BinaryData;
    request.flashMovieOnly = FlashMovieOnly;
    request.useCache = UseCache;
    request.stallTimeout = StallTimeout;
    request.maxSize = MaxSize;
    request.timeLimit = TimeLimit;
    return request;
}

void THTTPGet::StartTransfer()
{
    StartTransfer(request());
}

void THTTPGet::StartTransfer(const DownloadRequest& request)
{
    if (m_worker)
        return;
    m_errorString.clear();
    m_runningFileName = request.fileName;
    m_shared = std::make_shared<TransferShared>();
    m_worker = new THTTPGetThread(request, m_shared);
    connect(m_worker, &THTTPGetThread::progressReady, this, &THTTPGet::deliverProgress,
            Qt::QueuedConnection);
    connect(m_worker, &QThread::finished, this, &THTTPGet::completed, Qt::QueuedConnection);
    m_worker->start();

    if (WaitThread) {
        QEventLoop loop;
        connect(this, &THTTPGet::idle, &loop, &QEventLoop::quit);
        connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void THTTPGet::CancelTransfer()
{
    if (!m_worker)
        return;
    m_shared->cancelled = true;
}

void THTTPGet::deliverProgress()
{
    const std::shared_ptr<TransferShared> shared = m_shared;
    qint64 total = 0;
    qint64 read = 0;
    {
        std::lock_guard lock(shared->mutex);
        if (!shared->progressPending)
            return;
        total = shared->progressTotal;
        read = shared->progressRead;
        shared->progressPending = false;
    }
    emit OnProgress(total, read);
}

void THTTPGet::completed()
{
    m_worker->wait();
    const TransferOutcome& outcome = m_shared->outcome;
    const bool succeeded = outcome.succeeded && !m_shared->cancelled;
    m_errorString = succeeded             ? QString()
                    : m_shared->cancelled ? QStringLiteral("the transfer was cancelled")
                                          : outcome.error;
    m_addressGone = !succeeded && outcome.addressGone;
    m_sha256 = succeeded ? outcome.sha256 : QByteArray();
    // The worker stays registered while the event runs, so a start from inside it is ignored.
    if (succeeded)
        emit OnDoneFile(m_runningFileName, outcome.fileSize);
    else
        emit OnError();
    delete m_worker;
    m_worker = nullptr;
    emit idle();
}
