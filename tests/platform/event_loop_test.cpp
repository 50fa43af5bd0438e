#include <gtest/gtest.h>

#include <QCoreApplication>
#include <vector>

#include "platform/qt_event_loop.h"
#include "platform/virtual_event_loop.h"

namespace k9 {
namespace {

TEST(DelayOnVirtualClock, ReturnsAtTheFirstTickStrictlyPastTheDeadline) {
    VirtualEventLoop loop;
    Delay(loop, 2000);
    EXPECT_EQ(loop.tickMs(), 2001);
    Delay(loop, 0);
    EXPECT_EQ(loop.tickMs(), 2002);
}

TEST(DelayOnVirtualClock, NegativeWaitYieldsOnceAndReturns) {
    VirtualEventLoop loop;
    int ran = 0;
    loop.scheduleAt(0, [&] { ++ran; });
    Delay(loop, -5);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loop.tickMs(), 0);
}

TEST(DelayOnVirtualClock, TimersAndScheduledActionsRunDuringTheWaitInOrder) {
    VirtualEventLoop loop;
    std::vector<std::string> seen;
    auto fast = loop.makeTimer([&] { seen.push_back("fast@" + std::to_string(loop.tickMs())); });
    auto slow = loop.makeTimer([&] { seen.push_back("slow@" + std::to_string(loop.tickMs())); });
    fast->setInterval(500);
    slow->setInterval(1000);
    fast->setEnabled(true);
    slow->setEnabled(true);
    loop.scheduleAt(750, [&] { seen.push_back("click@750"); });
    Delay(loop, 1000);
    // Equal due times run in the order they were scheduled.
    const std::vector<std::string> expected{"fast@500", "click@750", "slow@1000", "fast@1000"};
    EXPECT_EQ(seen, expected);
}

TEST(DelayOnVirtualClock, DisabledOrDestroyedTimersStopTicking) {
    VirtualEventLoop loop;
    int ticks = 0;
    auto timer = loop.makeTimer([&] { ++ticks; });
    timer->setInterval(100);
    timer->setEnabled(true);
    loop.advance(350);
    EXPECT_EQ(ticks, 3);
    timer->setEnabled(false);
    loop.advance(1000);
    EXPECT_EQ(ticks, 3);
    timer->setEnabled(true);  // restarts the period from now
    loop.advance(99);
    EXPECT_EQ(ticks, 3);
    loop.advance(1);
    EXPECT_EQ(ticks, 4);
    timer.reset();
    loop.advance(1000);
    EXPECT_EQ(ticks, 4);
}

TEST(DelayOnVirtualClock, ATickThatWaitsDoesNotRunInsideItself) {
    VirtualEventLoop loop;
    int depth = 0;
    int maxDepth = 0;
    int ticks = 0;
    auto timer = loop.makeTimer([&] {
        ++ticks;
        maxDepth = std::max(maxDepth, ++depth);
        Delay(loop, 250);
        --depth;
    });
    timer->setInterval(100);
    timer->setEnabled(true);
    loop.advance(1000);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GT(ticks, 1);
}

TEST(DelayOnQtLoop, WaitsAtLeastTheTimeAndRunsTimers) {
    QtEventLoop loop;
    int ticks = 0;
    auto timer = loop.makeTimer([&] { ++ticks; });
    timer->setInterval(10);
    timer->setEnabled(true);
    const auto start = loop.tickUs();
    Delay(loop, 60);
    EXPECT_GT(loop.tickUs(), start + 60000);
    EXPECT_GE(ticks, 1);
    timer->setEnabled(false);
    EXPECT_FALSE(timer->enabled());
}

}  // namespace
}  // namespace k9
