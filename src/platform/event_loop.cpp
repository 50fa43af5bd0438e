#include "platform/event_loop.h"

namespace k9 {

void Delay(EventLoop& loop, std::int32_t nMilliSecs) {
    const std::int64_t end = loop.tickMs() + nMilliSecs;
    loop.yield();
    while (loop.tickMs() <= end) {
        loop.waitUntil(end + 1);
        loop.yield();
    }
}

}  // namespace k9
