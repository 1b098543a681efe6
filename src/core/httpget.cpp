#include "httpget.h"

#include "curlbasics.h"

#include <QEventLoop>
#include <QFile>

#include <atomic>
#include <mutex>

/// What the transfer and its component share: the cancel request, the result, and the latest
/// progress. Everything else the transfer owns.
struct TransferShared
{
    std::atomic<bool> cancelled{false};

    std::mutex mutex;
    bool progressPending = false; ///< figures the owning thread has not taken yet
    qint64 progressTotal = 0;
    qint64 progressRead = 0;

    transfer::Outcome outcome; ///< written by the transfer before it ends, read after it
};

namespace {

/// The transfer's view of its component: whether to stop, and where progress goes.
class ComponentWatch final : public TransferWatcher
{
public:
    ComponentWatch(TransferShared& shared, const BackgroundTask& task,
                   std::function<void()> announce)
        : m_shared(shared)
        , m_task(task)
        , m_announce(std::move(announce))
    {
    }

    bool cancelled() const override { return m_shared.cancelled || m_task.stopped(); }

    // The latest figures wait for the owning thread, which takes them when it gets to them; the
    // transfer never waits for it (a busy window would slow every download down). Figures not
    // taken yet are replaced, and announced once.
    void progress(qint64 total, qint64 read) override
    {
        bool announce = false;
        {
            std::lock_guard lock(m_shared.mutex);
            announce = !m_shared.progressPending;
            m_shared.progressPending = true;
            m_shared.progressTotal = total;
            m_shared.progressRead = read;
        }
        if (announce)
            m_task.post(m_announce);
    }

private:
    TransferShared& m_shared;
    const BackgroundTask& m_task;
    std::function<void()> m_announce; ///< runs on the owning thread
};

} // namespace

QString THTTPGet::DefaultAgent()
{
    return QString::fromLatin1(transfer::kProgramAgent);
}

THTTPGet::THTTPGet(QObject* parent)
    : QObject(parent)
{
}

THTTPGet::~THTTPGet()
{
    CancelTransfer();
    // The transfer notices the cancel within a fraction of a second, even inside a connect, and
    // takes its partial file away before the owner goes on.
    m_task.wait();
}

transfer::Request THTTPGet::request() const
{
    transfer::Request request = WebRequest(URL, FileName);
    request.acceptTypes = AcceptTypes.toStdString();
    request.agent = Agent.toStdString();
    request.userName = UserName.toStdString();
    request.password = Password.toStdString();
    request.postQuery = PostQuery.toStdString();
    request.referer = Referer.toStdString();
    request.caCertificates = QFile::encodeName(CaCertificates).toStdString();
    request.binaryData = BinaryData;
    request.flashMovieOnly = FlashMovieOnly;
    request.useCache = UseCache;
    request.stallTimeout = StallTimeout;
    request.maxSize = MaxSize;
    request.timeLimitMs = TimeLimit * 1000LL;
    return request;
}

void THTTPGet::StartTransfer()
{
    StartTransfer(request());
}

void THTTPGet::keepConnections()
{
    if (!m_connections)
        m_connections = std::make_shared<transfer::Connections>();
}

void THTTPGet::dropConnections()
{
    m_connections.reset();
}

void THTTPGet::StartTransfer(const transfer::Request& request)
{
    if (m_busy)
        return;
    m_errorString.clear();
    m_runningFileName = QFile::decodeName(request.fileName.c_str());
    m_shared = std::make_shared<TransferShared>();
    m_busy = true;
    InitCurlOnce(); // here: libcurl's set-up is not safe on two threads at once
    m_task = Background::run(this, [this, request, shared = m_shared,
                                    connections = m_connections](const BackgroundTask& task) {
        ComponentWatch watch(*shared, task, [this] { deliverProgress(); });
        shared->outcome = transfer::Fetch(request, watch, connections.get());
        task.post([this] { completed(); });
    });

    if (WaitThread) {
        QEventLoop loop;
        connect(this, &THTTPGet::idle, &loop, &QEventLoop::quit);
        connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void THTTPGet::CancelTransfer()
{
    if (m_busy)
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
    m_task.wait();
    const transfer::Outcome& outcome = m_shared->outcome;
    const bool succeeded = outcome.succeeded && !m_shared->cancelled;
    m_errorString = succeeded             ? QString()
                    : m_shared->cancelled ? QStringLiteral("the transfer was cancelled")
                                          : QString::fromStdString(outcome.error);
    m_addressGone = !succeeded && outcome.addressGone;
    m_sha256 = succeeded ? QByteArray::fromStdString(outcome.sha256) : QByteArray();
    // The worker stays registered while the event runs, so a start from inside it is ignored.
    if (succeeded)
        emit OnDoneFile(m_runningFileName, outcome.size);
    else
        emit OnError();
    m_busy = false;
    emit idle();
}
