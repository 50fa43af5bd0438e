#pragma once

#include <ostream>
#include <string>

#include "config/app_config.h"

namespace k9 {

// k9update --send-kept: sends the locations kept in the working folder base and in its port
// folders (COM1/ to COM12/) to the server, one login per unit, without a unit connected.
// A port folder another k9update is working in is left alone. Returns the exit code: 0 when
// nothing stays kept, 6 when something does.
int sendKeptLocations(const AppConfig& config, const std::string& base, std::ostream& out);

}  // namespace k9
