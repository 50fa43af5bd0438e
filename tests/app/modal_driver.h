#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace k9::test {

// Acts on a modal window once it is on screen. The check runs on the loop that the modal
// window spins itself, so nothing here waits for time to pass.
class ModalDriver final {
  public:
    template <typename Window>
    void when(std::function<void(Window&)> act) {
        auto timer = std::make_unique<QTimer>();
        timer->setInterval(0);
        QTimer* raw = timer.get();
        QObject::connect(raw, &QTimer::timeout, [raw, act = std::move(act)] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* window = dynamic_cast<Window*>(widget);
                if (window != nullptr && window->isVisible()) {
                    raw->stop();
                    act(*window);
                    return;
                }
            }
        });
        raw->start();
        timers_.push_back(std::move(timer));
    }

  private:
    std::vector<std::unique_ptr<QTimer>> timers_;
};

// Turns the event loop until the condition holds; false if it never does within `turns`.
template <typename Condition>
bool processUntil(Condition condition, int turns = 1000) {
    for (int i = 0; i < turns && !condition(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return condition();
}

}  // namespace k9::test
