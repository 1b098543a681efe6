#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>

/// What one or several calls to a browser gather for one asker, given once: when the last call
/// is in or at a deadline, whichever comes first, and never to an asker that is gone.
template <typename Collected>
struct Gathering
{
    QPointer<QObject> context;
    std::function<void(const Collected&)> answer;
    Collected collected{};
    int waiting = 0;

    void give()
    {
        if (context && answer)
            std::exchange(answer, nullptr)(collected);
    }
    /// One call is in; the last gives the answer.
    void done()
    {
        if (--waiting <= 0)
            give();
    }
};
