#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/main_view.h"
#include "update/run_record.h"

namespace k9 {

// How a run ended, in one line for a person: "Sentrel K9 updated.", with what became of the
// stored locations, or what went wrong, in words taken from the record.
std::string outcomeText(const RunRecord& record, const std::string& deviceName = "Sentrel K9");

// Text from a message or a server's reply as one line: line breaks become "; ", blanks and
// full stops at the ends go.
std::string oneLine(std::string text);

// The words a run's end and its locations are stored and reported by, which never change:
// "updated", "no-answer", ...; and back, none for a word this version does not know.
std::string_view runEndWord(RunEnd end);
std::optional<RunEnd> runEndFromWord(std::string_view word);
std::string_view locationsWord(LocationsFate fate);
std::optional<LocationsFate> locationsFromWord(std::string_view word);

// "yes", "no" or "ok": how a message box was answered, in the trace and in JSON.
std::string_view answerWord(MessageAnswer answer);

// For people: "no answer", "kept in /path".
std::string runEndText(RunEnd end);
std::string locationsText(const RunRecord& run);

// "2:00" for 120000 ms.
std::string minutesText(std::int64_t ms);

}  // namespace k9
