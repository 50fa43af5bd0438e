#pragma once

// One run of a unit as the history keeps it, and the words and dates it is shown with.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/run_outcome.h"
#include "update/run_record.h"

namespace k9 {

struct HistoryEntry {
    std::int64_t id = 0;  // the store's, in the order the records were written
    RunRecord run;        // serial number, times, edition, server file, lines, outcome
    std::string version;  // of the program that made the run
};

// The record of a run that got a serial number; none for the others.
std::optional<HistoryEntry> historyEntryFor(const RunRecord& run, const std::string& version);

// For people: "Cameras & Schools".
std::string editionTitle(const RunRecord& run);
std::string fileTitle(const std::string& remoteFile);
// The server file of an edition by its list index (0 cameras, 1 schools, 2 test); empty for
// any other.
std::string editionFile(int edition);

// "2 November 2026", in local time.
std::string longDate(std::time_t when);
// "2026-11-02 14:03", in local time.
std::string shortDateTime(std::time_t when);
// "today", "yesterday", "36 days ago": whole calendar days from `when` to `now`, local time.
std::string daysAgo(std::time_t when, std::time_t now);

// The history as a table for people: a header row, then one row per entry as given.
std::vector<std::vector<std::string>> historyTable(const std::vector<HistoryEntry>& entries);
// A table as text: columns padded to their widest cell, two blanks apart, one row a line.
std::string tableText(const std::vector<std::vector<std::string>>& rows);

}  // namespace k9
