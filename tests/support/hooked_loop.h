#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/event_loop.h"

namespace k9::test {

// A virtual or a real loop that also counts its turns and lets a test act on each one.
template <typename Inner>
class HookedLoop final : public EventLoop {
  public:
    void yield() override {
        ++yields;
        inner.yield();
        if (onYield) {
            onYield(yields);
        }
    }
    std::int64_t tickMs() const override { return inner.tickMs(); }
    void waitUntil(std::int64_t deadlineMs) override { inner.waitUntil(deadlineMs); }
    std::unique_ptr<Timer> makeTimer(std::function<void()> onTick) override {
        return inner.makeTimer(std::move(onTick));
    }

    Inner inner;
    int yields = 0;
    std::function<void(int)> onYield;
};

}  // namespace k9::test
