#pragma once

#include <ostream>

#include "cli/cli_options.h"
#include "config/app_config.h"

namespace k9 {

// --history, --check or --forget.
bool isHistoryMode(CliMode mode);

// k9update --history [--serial] [--json], --check [--serial] [--edition] and --forget SERIAL,
// over the history in the state folder. Returns the exit code; --check: 0 when every unit is
// up to date, 10 when a newer file waits for one (whatever else), 4 when the server could not
// be asked.
int runHistoryCommand(const CliOptions& options, const AppConfig& config, std::ostream& out,
                      std::ostream& err);

}  // namespace k9
