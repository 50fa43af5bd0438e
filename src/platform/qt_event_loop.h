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
    void waitUntil(std::int64_t deadlineMs) override;
    std::unique_ptr<Timer> makeTimer(std::function<void()> onTick) override;

  private:
    QElapsedTimer clock_;
};

}  // namespace k9
