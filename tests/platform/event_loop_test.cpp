#include <gtest/gtest.h>

#include <vector>

#include "platform/qt_event_loop.h"
#include "platform/virtual_event_loop.h"

namespace k9 {
namespace {

std::unique_ptr<Timer> startTimer(EventLoop& loop, int ms, std::function<void()> onTick) {
    auto timer = loop.makeTimer(std::move(onTick));
    timer->setInterval(ms);
    timer->setEnabled(true);
    return timer;
}

TEST(DelayOnVirtualClock, ReturnsAtTheFirstTickStrictlyPastTheDeadline) {
    VirtualEventLoop loop;
    int ran = 0;
    loop.scheduleAt(0, [&] { ++ran; });
    Delay(loop, -5);  // yields once and returns
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loop.tickMs(), 0);
    Delay(loop, 2000);
    EXPECT_EQ(loop.tickMs(), 2001);
    Delay(loop, 0);
    EXPECT_EQ(loop.tickMs(), 2002);
}

TEST(DelayOnVirtualClock, TimersAndScheduledActionsRunDuringTheWaitInOrder) {
    VirtualEventLoop loop;
    std::vector<std::string> seen;
    auto fast =
        startTimer(loop, 500, [&] { seen.push_back("fast@" + std::to_string(loop.tickMs())); });
    auto slow =
        startTimer(loop, 1000, [&] { seen.push_back("slow@" + std::to_string(loop.tickMs())); });
    loop.scheduleAt(750, [&] { seen.push_back("click@750"); });
    Delay(loop, 1000);
    // Equal due times run in the order they were scheduled.
    EXPECT_EQ(seen, (std::vector<std::string>{"fast@500", "click@750", "slow@1000", "fast@1000"}));
}

TEST(DelayOnVirtualClock, DisabledOrDestroyedTimersStopTicking) {
    VirtualEventLoop loop;
    int ticks = 0;
    auto timer = startTimer(loop, 100, [&] { ++ticks; });
    auto ticksAfter = [&](std::int64_t ms) {
        loop.advance(ms);
        return ticks;
    };
    EXPECT_EQ(ticksAfter(350), 3);
    timer->setEnabled(false);
    EXPECT_EQ(ticksAfter(1000), 3);
    timer->setEnabled(true);  // restarts the period from now
    EXPECT_EQ(ticksAfter(99), 3);
    EXPECT_EQ(ticksAfter(1), 4);
    timer.reset();
    EXPECT_EQ(ticksAfter(1000), 4);
}

TEST(DelayOnVirtualClock, ATickThatWaitsDoesNotRunInsideItself) {
    VirtualEventLoop loop;
    int depth = 0, maxDepth = 0, ticks = 0;
    auto timer = startTimer(loop, 100, [&] {
        ++ticks;
        maxDepth = std::max(maxDepth, ++depth);
        Delay(loop, 250);
        --depth;
    });
    loop.advance(1000);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GT(ticks, 1);
}

TEST(DelayOnQtLoop, WaitsAtLeastTheTimeAndRunsTimers) {
    QtEventLoop loop;
    int ticks = 0;
    auto timer = startTimer(loop, 10, [&] { ++ticks; });
    const auto start = loop.tickUs();
    Delay(loop, 60);
    EXPECT_GT(loop.tickUs(), start + 60000);
    EXPECT_GE(ticks, 1);
}

}  // namespace
}  // namespace k9
