#include "platform/qt_event_loop.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace k9 {
namespace {

class QtTimer final : public Timer {
  public:
    explicit QtTimer(std::function<void()> onTick) {
        QObject::connect(&timer_, &QTimer::timeout, [cb = std::move(onTick)] { cb(); });
    }
    void setInterval(std::int32_t ms) override { timer_.setInterval(ms); }
    std::int32_t interval() const override { return timer_.interval(); }
    void setEnabled(bool on) override {
        if (on) {
            timer_.start();
        } else {
            timer_.stop();
        }
    }
    bool enabled() const override { return timer_.isActive(); }

  private:
    QTimer timer_;
};

}  // namespace

QtEventLoop::QtEventLoop() {
    clock_.start();
#ifdef __linux__
    // The pause between data lines is part of the protocol; the kernel's default timer slack
    // of 50 us would stretch every one of them.
    prctl(PR_SET_TIMERSLACK, 1000UL);
#endif
}

void QtEventLoop::yield() {
    // A transfer yields after every 255-byte chunk, thousands of times a second. Posted
    // events always run; the dispatcher (input, timers, sockets) is polled at most once a
    // millisecond, which no one can see but which keeps a download from spending most of its
    // time in poll().
    QCoreApplication::sendPostedEvents();
    if (tickUs() - lastPollUs_ >= kPollIntervalUs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        lastPollUs_ = tickUs();
    }
}

void QtEventLoop::waitUntilUs(std::int64_t deadlineUs) {
    const std::int64_t remainingUs = deadlineUs - tickUs();
    if (remainingUs <= 0) {
        return;
    }
    if (remainingUs <= kShortWaitUs) {
        // A pause between two data lines: one precise sleep. The callers yield right before
        // and after it, so the window still gets a turn every few milliseconds, and each
        // wake-up saved is CPU saved.
        QThread::usleep(static_cast<unsigned long>(remainingUs));
        return;
    }
    // Longer waits sleep in the event dispatcher, waking early enough for a last short sleep.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    const std::int64_t wakeMs = (remainingUs - kShortWaitUs / 2) / 1000;
    wake.start(static_cast<int>(std::min<std::int64_t>(wakeMs, 24 * 3600 * 1000)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

std::unique_ptr<Timer> QtEventLoop::makeTimer(std::function<void()> onTick) {
    return std::make_unique<QtTimer>(std::move(onTick));
}

}  // namespace k9
