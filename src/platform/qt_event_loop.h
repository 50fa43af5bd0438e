#pragma once

#include <QElapsedTimer>

#include "platform/event_loop.h"

namespace k9 {

// The real loop: turns are passes of Qt's event processing. Waiting sleeps in the event
// dispatcher with a wake-up at the deadline, so it costs no CPU.
class QtEventLoop final : public EventLoop {
  public:
    QtEventLoop();
    void yield() override;
    std::int64_t tickMs() const override { return clock_.elapsed(); }
    void waitUntil(std::int64_t deadlineMs) override { waitUntilUs(deadlineMs * 1000); }
    std::int64_t tickUs() const override { return clock_.nsecsElapsed() / 1000; }
    void waitUntilUs(std::int64_t deadlineUs) override;
    std::unique_ptr<Timer> makeTimer(std::function<void()> onTick) override;

  private:
    // Waits up to this long sleep in one piece instead of in the event dispatcher.
    static constexpr std::int64_t kShortWaitUs = 20000;
    static constexpr std::int64_t kPollIntervalUs = 1000;
    QElapsedTimer clock_;
    std::int64_t lastPollUs_ = -kPollIntervalUs;
};

}  // namespace k9
