#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace k9 {

class EventLoop;
struct AppConfig;

// --port auto: the ports 1 to 12 whose device exists and is free.
std::vector<int> freePorts(const AppConfig& config);

// Opens the given ports for the unit's first wait and returns the one on which "#FTPUN" and a
// CR arrived first, or 0 when none did within waitMs. Every port is closed on return, so the
// run opens its port as it always does; the unit repeats an unanswered request.
int findUnitPort(EventLoop& loop, const AppConfig& config, const std::vector<int>& ports,
                 std::int64_t waitMs);

// The stage-1 wait of a run: seven keep-alive ticks of 5 s.
inline constexpr std::int64_t kFirstRequestWaitMs = 35000;

}  // namespace k9
