#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_options.h"

namespace k9 {

// What the k9sim command line asks for.
struct SimCommandLine {
    SimOptions options;
    std::string linkPath;       // --link: a symbolic link to the slave device
    std::string locationsFile;  // --locations: read into options.locations by the program
    std::string receivedFile;   // --received: everything the unit received, written at exit
    std::int64_t timeoutMs = -1;
    bool help = false;
    std::string error;  // set when the command line is wrong
};

// Parses the arguments after the program name. Options take their value as the next argument
// or after '='.
SimCommandLine parseSimCommandLine(const std::vector<std::string>& args);

std::string simUsage();

}  // namespace k9
