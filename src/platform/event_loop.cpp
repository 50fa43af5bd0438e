#include "platform/event_loop.h"

namespace k9 {

// Measured in microseconds: a whole-millisecond tick would stretch the 18 ms pause between
// data lines by up to a tenth.
void Delay(EventLoop& loop, std::int32_t nMilliSecs) {
    const std::int64_t end = loop.tickUs() + std::int64_t{nMilliSecs} * 1000;
    loop.yield();
    while (loop.tickUs() <= end) {
        loop.waitUntilUs(end + 1);
        loop.yield();
    }
}

}  // namespace k9
