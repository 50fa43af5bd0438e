#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace k9 {

// Decides when changed view values reach the widgets. Transfers report every 255 bytes, far
// more often than a screen can show; this applies them at most once per interval, and never
// later than one interval after the last change, so the final values always show.
class RepaintThrottle final {
  public:
    using Clock = std::function<std::int64_t()>;         // monotonic milliseconds
    using Schedule = std::function<void(std::int64_t)>;  // call timerFired() after this delay
    using Apply = std::function<void()>;

    RepaintThrottle(std::int64_t intervalMs, Clock clock, Schedule schedule, Apply apply)
        : intervalMs_(intervalMs),
          clock_(std::move(clock)),
          schedule_(std::move(schedule)),
          apply_(std::move(apply)) {}

    void changed();
    void timerFired();
    // Applies what is pending now, e.g. before a modal box takes over the screen.
    void flush();

    bool pending() const { return pending_; }

  private:
    void applyNow();

    std::int64_t intervalMs_;
    Clock clock_;
    Schedule schedule_;
    Apply apply_;
    bool pending_ = false;
    bool scheduled_ = false;
    bool appliedOnce_ = false;
    std::int64_t lastApplyMs_ = 0;
};

// About 60 frames a second.
inline constexpr std::int64_t kRepaintIntervalMs = 16;

}  // namespace k9
