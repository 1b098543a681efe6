#include "httpget.h"

#include "httpgetthread.h"

#include <QCoreApplication>
#include <QEventLoop>

QString THTTPGet::DefaultAgent()
{
    return QStringLiteral("ClipVault/1.0");
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

void THTTPGet::StartTransfer()
{
    if (m_worker)
        return;
    TransferSettings settings;
    settings.acceptTypes = AcceptTypes;
    settings.agent = Agent;
    settings.url = URL;
    settings.fileName = FileName;
    settings.userName = UserName;
    settings.password = Password;
    settings.postQuery = PostQuery;
    settings.referer = Referer;
    settings.caCertificates = CaCertificates;
    settings.binaryData = BinaryData;
    settings.flashMovieOnly = FlashMovieOnly;
    settings.useCache = UseCache;
    settings.stallTimeout = StallTimeout;
    settings.maxSize = MaxSize;
    settings.timeLimit = TimeLimit;

    m_errorString.clear();
    m_runningFileName = FileName;
    m_shared = std::make_shared<TransferShared>();
    m_worker = new THTTPGetThread(std::move(settings), m_shared);
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
    const bool succeeded = m_shared->succeeded && !m_shared->cancelled;
    m_errorString = succeeded             ? QString()
                    : m_shared->cancelled ? QStringLiteral("the transfer was cancelled")
                                          : m_shared->error;
    // The worker stays registered while the event runs, so a start from inside it is ignored.
    if (succeeded)
        emit OnDoneFile(m_runningFileName, m_shared->fileSize);
    else
        emit OnError();
    delete m_worker;
    m_worker = nullptr;
    emit idle();
}
