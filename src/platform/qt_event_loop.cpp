#include "platform/qt_event_loop.h"

#include <QCoreApplication>
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
}

void QtEventLoop::yield() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventLoop::waitUntil(std::int64_t deadlineMs) {
    const std::int64_t remaining = deadlineMs - tickMs();
    if (remaining <= 0) {
        return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(static_cast<int>(std::min<std::int64_t>(remaining, 24 * 3600 * 1000)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

std::unique_ptr<Timer> QtEventLoop::makeTimer(std::function<void()> onTick) {
    return std::make_unique<QtTimer>(std::move(onTick));
}

}  // namespace k9
