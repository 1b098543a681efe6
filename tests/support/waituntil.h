#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <functional>

/// Polls a condition, serving events in between, until it holds or the deadline passes. The
/// deadline is generous: a loaded two-core machine runs these tests too.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}
