#pragma once

#include <iosfwd>

namespace k9 {

struct AppConfig;

// --list-ports: each of the ports 1 to 12 whose device exists, with its state and adapter.
void listPorts(const AppConfig& config, bool json, std::ostream& out);

}  // namespace k9
