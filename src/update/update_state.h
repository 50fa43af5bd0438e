#pragma once

#include <cstdint>
#include <string>

#include "config/program_vars.h"
#include "ports/port_control.h"
#include "transfer/server_operations.h"

namespace k9 {

// The main window's variables shared by the run, its timers and the server operations. The
// layers below see only their own part: port control the run's handles, the server
// operations the session.
struct UpdateState : RunHandles, ServerSession {
    std::string sNewLocations;
    std::string sRxBuffer;
    std::int16_t iRetryCount = 0;
    std::int16_t iUploadTicks = 0;
};

}  // namespace k9
