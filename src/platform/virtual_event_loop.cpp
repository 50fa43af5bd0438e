#include "platform/virtual_event_loop.h"

#include <algorithm>

namespace k9 {
namespace {

class VirtualTimer final : public Timer {
  public:
    VirtualTimer(VirtualEventLoop& loop, std::function<void()> onTick)
        : loop_(loop), state_(std::make_shared<State>()) {
        state_->onTick = std::move(onTick);
    }
    ~VirtualTimer() override { state_->generation++; }

    void setInterval(std::int32_t ms) override {
        state_->interval = ms;
        if (state_->enabled) {
            restart();
        }
    }
    std::int32_t interval() const override { return state_->interval; }
    void setEnabled(bool on) override {
        state_->enabled = on;
        if (on) {
            restart();
        } else {
            state_->generation++;
        }
    }
    bool enabled() const override { return state_->enabled; }

  private:
    struct State {
        std::function<void()> onTick;
        std::int32_t interval = 0;
        bool enabled = false;
        bool running = false;
        std::uint64_t generation = 0;
    };

    void restart() {
        state_->generation++;
        if (state_->interval > 0) {
            arm(loop_, state_, state_->generation);
        }
    }

    static void arm(VirtualEventLoop& loop, const std::shared_ptr<State>& state,
                    std::uint64_t generation) {
        std::weak_ptr<State> weak = state;
        loop.scheduleAfter(state->interval, [&loop, weak, generation] {
            auto s = weak.lock();
            if (!s || s->generation != generation || !s->enabled) {
                return;
            }
            arm(loop, s, generation);
            if (s->running) {
                return;  // a tick never runs inside itself
            }
            s->running = true;
            struct Reset {
                State& s;
                ~Reset() { s.running = false; }
            } reset{*s};
            s->onTick();
        });
    }

    VirtualEventLoop& loop_;
    std::shared_ptr<State> state_;
};

}  // namespace

void VirtualEventLoop::scheduleAt(std::int64_t atMs, std::function<void()> action) {
    queue_.emplace(Key{std::max(atMs, now_), sequence_++}, std::move(action));
}

bool VirtualEventLoop::runOneDue() {
    if (queue_.empty() || queue_.begin()->first.first > now_) {
        return false;
    }
    auto node = queue_.extract(queue_.begin());
    node.mapped()();
    return true;
}

void VirtualEventLoop::yield() {
    while (runOneDue()) {
    }
}

void VirtualEventLoop::waitUntil(std::int64_t deadlineMs) {
    if (!queue_.empty() && queue_.begin()->first.first <= now_) {
        yield();
        return;
    }
    std::int64_t target = deadlineMs;
    if (!queue_.empty()) {
        target = std::min(target, queue_.begin()->first.first);
    }
    now_ = std::max(now_, target);
    yield();
}

void VirtualEventLoop::advance(std::int64_t ms) {
    const std::int64_t end = now_ + ms;
    yield();
    while (now_ < end) {
        waitUntil(end);
    }
}

std::int64_t VirtualEventLoop::nextDue() const {
    return queue_.empty() ? -1 : queue_.begin()->first.first;
}

std::unique_ptr<Timer> VirtualEventLoop::makeTimer(std::function<void()> onTick) {
    return std::make_unique<VirtualTimer>(*this, std::move(onTick));
}

}  // namespace k9
