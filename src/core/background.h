#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

/// The one way work runs off the window thread.
///
/// `Background::run(receiver, work)` runs `work` on a worker of the program's pool. The work
/// hands what it finds to the receiver's thread with `BackgroundTask::post`; a call posted
/// runs there only while the receiver lives, so a window closed while its fetch runs gets
/// nothing. The task is asked to stop (`BackgroundTask::stopped`) when it is cancelled, when its
/// receiver goes, and when the program ends: `Background::finish` asks every task still running
/// to stop and joins it, so nothing runs unowned while the program quits.
class BackgroundTask
{
public:
    struct Shared;
    explicit BackgroundTask(std::shared_ptr<Shared> shared)
        : m_shared(std::move(shared))
    {
    }

    /// Whether the task was asked to stop: long work checks it between steps, a fetch is
    /// handed it to end at once, and work with nothing to do until then waits on it
    /// (`stopped().wait(false)`).
    const std::atomic<bool>& stopped() const;
    /// Runs `call` on the receiver's thread, after every call posted before it, if the receiver
    /// still lives then.
    void post(std::function<void()> call) const;

private:
    std::shared_ptr<Shared> m_shared;
};

namespace Background {

/// Asks a task to stop; it ends at its next check, and what it posts then (that it ended
/// early) still reaches its living receiver.
class Handle
{
public:
    Handle() = default;
    explicit Handle(std::shared_ptr<BackgroundTask::Shared> shared)
        : m_shared(std::move(shared))
    {
    }
    void cancel() const;
    /// Waits for the work to end: for an owner whose work writes what the owner is about to
    /// hand on (a file), and must be finished with it first.
    void wait() const;
    /// Whether the work still runs (or waits for a worker).
    bool isRunning() const;

private:
    std::shared_ptr<BackgroundTask::Shared> m_shared;
};

/// Starts `work` for `receiver` (which lives on the calling thread). A null receiver is the
/// program itself: nothing is posted back, and the task stops only when cancelled or at
/// the end.
Handle run(QObject* receiver, std::function<void(const BackgroundTask&)> work);

/// Asks every task to stop and waits for each to end; the program calls it before its windows
/// and its data go.
void finish();

} // namespace Background
