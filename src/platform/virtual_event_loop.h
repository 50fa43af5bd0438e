#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "platform/event_loop.h"

namespace k9 {

// Event loop on a simulated clock for tests. Time moves only when a wait finds nothing due,
// and then jumps straight to the next due action, so long waits cost nothing and every run
// is the same.
class VirtualEventLoop final : public EventLoop {
  public:
    VirtualEventLoop() = default;
    VirtualEventLoop(const VirtualEventLoop&) = delete;
    VirtualEventLoop& operator=(const VirtualEventLoop&) = delete;

    void yield() override;
    std::int64_t tickMs() const override { return now_; }
    void waitUntil(std::int64_t deadlineMs) override;
    std::unique_ptr<Timer> makeTimer(std::function<void()> onTick) override;

    // Runs action at the given absolute time (or now, if that has passed).
    void scheduleAt(std::int64_t atMs, std::function<void()> action);
    void scheduleAfter(std::int64_t delayMs, std::function<void()> action) {
        scheduleAt(now_ + delayMs, std::move(action));
    }
    // Runs everything due up to now + ms, moving the clock there.
    void advance(std::int64_t ms);
    // Due time of the next action, or -1 when nothing is queued.
    std::int64_t nextDue() const;
    std::size_t pending() const { return queue_.size(); }

  private:
    using Key = std::pair<std::int64_t, std::uint64_t>;  // due time, then order of scheduling
    bool runOneDue();

    std::int64_t now_ = 0;
    std::uint64_t sequence_ = 0;
    std::map<Key, std::function<void()>> queue_;
};

}  // namespace k9
