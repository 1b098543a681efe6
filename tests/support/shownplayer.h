#pragma once

#include "flashplayer.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

/// Shows `player` at 400 x 300, as a window of its own, and starts its page; a failure when the
/// window or the page never came up.
inline ::testing::AssertionResult ShowAndStartPlayer(FlashPlayer& player)
{
    player.resize(400, 300);
    player.show();
    if (!QTest::qWaitForWindowExposed(&player))
        return ::testing::AssertionFailure() << "the player's window was never shown";
    QSignalSpy ready(&player, &FlashPlayer::ready);
    player.start();
    if (!ready.wait(30000))
        return ::testing::AssertionFailure() << "the player page did not come up";
    return ::testing::AssertionSuccess();
}
