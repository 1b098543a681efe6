#include "background.h"

#include <QMetaObject>
#include <QMutex>
#include <QPointer>
#include <QThreadPool>
#include <QWaitCondition>

#include <list>

struct BackgroundTask::Shared
{
    std::atomic<bool> stopped{false};
    std::atomic<bool> running{true};
    QMutex endMutex;
    QWaitCondition ended;
    /// Where posted calls go: an object on the receiver's thread that goes with the receiver.
    /// Guarded: a worker posts only while it is there.
    QMutex relayMutex;
    QObject* relay = nullptr;
};

namespace {

/// Asks a task to stop and wakes work that waits for it (`stopped().wait(false)`).
void stop(BackgroundTask::Shared& task)
{
    task.stopped = true;
    task.stopped.notify_all();
}

/// The program's workers and the tasks they run. The pool grows as tasks come: a task that
/// waits on a slow site must not hold back another.
struct Tasks
{
    QThreadPool pool;
    QMutex mutex;
    std::list<std::weak_ptr<BackgroundTask::Shared>> running;

    Tasks()
    {
        pool.setMaxThreadCount(256);
        pool.setExpiryTimeout(30000);
    }

    void add(const std::shared_ptr<BackgroundTask::Shared>& task)
    {
        const QMutexLocker lock(&mutex);
        running.remove_if([](const auto& weak) { return weak.expired(); });
        running.push_back(task);
    }

    void stopAll()
    {
        const QMutexLocker lock(&mutex);
        for (const auto& weak : running) {
            if (const auto task = weak.lock())
                stop(*task);
        }
        running.clear();
    }
};

Tasks& tasks()
{
    static Tasks all;
    return all;
}

/// Removes the relay once every call posted before it has run.
void endRelay(const std::shared_ptr<BackgroundTask::Shared>& shared)
{
    const QMutexLocker lock(&shared->relayMutex);
    if (shared->relay)
        QMetaObject::invokeMethod(shared->relay, &QObject::deleteLater, Qt::QueuedConnection);
}

} // namespace

const std::atomic<bool>& BackgroundTask::stopped() const
{
    return m_shared->stopped;
}

void BackgroundTask::post(std::function<void()> call) const
{
    const QMutexLocker lock(&m_shared->relayMutex);
    // The relay goes with its receiver; what was posted to it and not run yet goes along.
    if (m_shared->relay)
        QMetaObject::invokeMethod(m_shared->relay, std::move(call), Qt::QueuedConnection);
}

namespace Background {

void Handle::cancel() const
{
    if (m_shared)
        stop(*m_shared);
}

void Handle::wait() const
{
    if (!m_shared)
        return;
    QMutexLocker lock(&m_shared->endMutex);
    while (m_shared->running)
        m_shared->ended.wait(&m_shared->endMutex);
}

bool Handle::isRunning() const
{
    return m_shared && m_shared->running;
}

Handle run(QObject* receiver, std::function<void(const BackgroundTask&)> work)
{
    auto shared = std::make_shared<BackgroundTask::Shared>();
    if (receiver) {
        // A child of the receiver: it goes with it, taking the calls not run yet along.
        auto* relay = new QObject(receiver);
        shared->relay = relay;
        QObject::connect(relay, &QObject::destroyed, [weak = std::weak_ptr(shared)] {
            if (const auto task = weak.lock()) {
                stop(*task);
                const QMutexLocker lock(&task->relayMutex);
                task->relay = nullptr;
            }
        });
    }
    tasks().add(shared);
    tasks().pool.start([shared, work = std::move(work)] {
        // Run even when stopped before it began: the work says how it ended.
        work(BackgroundTask(shared));
        endRelay(shared);
        const QMutexLocker lock(&shared->endMutex);
        shared->running = false;
        shared->ended.wakeAll();
    });
    return Handle(shared);
}

void finish()
{
    tasks().stopAll();
    tasks().pool.waitForDone();
}

} // namespace Background
