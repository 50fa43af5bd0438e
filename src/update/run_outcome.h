#pragma once

#include <string>

#include "update/run_record.h"

namespace k9 {

// How a run ended, in one line for a person: "Sentrel K9 updated.", with what became of the
// stored locations, or what went wrong, in words taken from the record.
std::string outcomeText(const RunRecord& record, const std::string& deviceName = "Sentrel K9");

// Text from a message or a server's reply as one line: line breaks become "; ", blanks and
// full stops at the ends go.
std::string oneLine(std::string text);

// "2:00" for 120000 ms.
std::string minutesText(std::int64_t ms);

}  // namespace k9
