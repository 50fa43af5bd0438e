#include "app/repaint_throttle.h"

#include <algorithm>

namespace k9 {

void RepaintThrottle::changed() {
    pending_ = true;
    if (scheduled_) {
        return;
    }
    scheduled_ = true;
    const std::int64_t wait =
        appliedOnce_ ? std::max<std::int64_t>(0, lastApplyMs_ + intervalMs_ - clock_()) : 0;
    schedule_(wait);
}

void RepaintThrottle::timerFired() {
    scheduled_ = false;
    if (pending_) {
        applyNow();
    }
}

void RepaintThrottle::flush() {
    if (pending_) {
        applyNow();
    }
}

void RepaintThrottle::applyNow() {
    pending_ = false;
    appliedOnce_ = true;
    lastApplyMs_ = clock_();
    apply_();
}

}  // namespace k9
