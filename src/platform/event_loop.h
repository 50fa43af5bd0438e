#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace k9 {

// A repeating timer owned by its creator; ticks run only while the loop yields.
class Timer {
  public:
    virtual ~Timer() = default;
    virtual void setInterval(std::int32_t ms) = 0;
    virtual std::int32_t interval() const = 0;
    // Enabling (re)starts the period from now, as a timer control does.
    virtual void setEnabled(bool on) = 0;
    virtual bool enabled() const = 0;
};

// The single thread's turns. Everything long-running gives the loop a turn at known points;
// handlers that run during a turn may change any shared state.
class EventLoop {
  public:
    virtual ~EventLoop() = default;
    // Runs what is pending now, once, without waiting.
    virtual void yield() = 0;
    // Monotonic milliseconds; 64-bit, so it never wraps.
    virtual std::int64_t tickMs() const = 0;
    // Waits until something happens or the tick reaches deadlineMs, running what became due.
    // May return early; never spins.
    virtual void waitUntil(std::int64_t deadlineMs) = 0;
    // The same clock in microseconds, for waits shorter than a few ticks.
    virtual std::int64_t tickUs() const { return tickMs() * 1000; }
    virtual void waitUntilUs(std::int64_t deadlineUs) { waitUntil((deadlineUs + 999) / 1000); }
    virtual std::unique_ptr<Timer> makeTimer(std::function<void()> onTick) = 0;
};

// Waits at least nMilliSecs while keeping the loop turning. Always yields at least once and
// returns at the first tick strictly past the deadline.
void Delay(EventLoop& loop, std::int32_t nMilliSecs);

}  // namespace k9
