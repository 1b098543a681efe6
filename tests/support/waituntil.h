#pragma once

#include <QTest>

/// Qt's own polling wait (events are served while the condition is false), with a deadline
/// generous enough for a loaded two-core machine.
template <typename Condition>
[[nodiscard]] bool waitUntil(Condition&& condition, int timeoutMs = 30000)
{
    return QTest::qWaitFor(std::forward<Condition>(condition), timeoutMs);
}
