#include "history/history_entry.h"

#include "update/run_outcome.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace k9 {
namespace {

struct Edition {
    const char* file;
    const char* title;
};
// The file list's entries, in its order.
constexpr std::array kEditions = {Edition{"LocationsLite.txt", "Cameras"},
                                  Edition{"LocationsFull.txt", "Cameras & Schools"},
                                  Edition{"TestLocations.txt", "Test Locations"}};

constexpr std::array kMonths = {"January",   "February", "March",    "April",
                                "May",       "June",     "July",     "August",
                                "September", "October",  "November", "December"};

std::tm localTime(std::time_t when) {
    std::tm tm{};
    if (localtime_r(&when, &tm) == nullptr) {
        tm = std::tm{};
        tm.tm_mday = 1;
        tm.tm_year = 70;
    }
    return tm;
}

// Days since the epoch of the local calendar date of `when`.
std::int64_t localDay(std::time_t when) {
    std::tm tm = localTime(when);
    tm.tm_hour = 12;
    tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = 0;
    return static_cast<std::int64_t>(timegm(&tm)) / 86400;
}

}  // namespace

std::optional<HistoryEntry> historyEntryFor(const RunRecord& run, const std::string& version) {
    if (run.serialNumber.empty()) {
        return std::nullopt;
    }
    return HistoryEntry{0, run, version};
}

std::string editionTitle(const RunRecord& run) {
    return fileTitle(run.remoteFile.empty() ? editionFile(run.edition) : run.remoteFile);
}

std::string fileTitle(const std::string& remoteFile) {
    for (const Edition& e : kEditions) {
        if (remoteFile == e.file) {
            return e.title;
        }
    }
    return remoteFile.empty() ? "-" : remoteFile;
}

std::string editionFile(int edition) {
    if (edition < 0 || edition >= static_cast<int>(kEditions.size())) {
        return {};
    }
    return kEditions[static_cast<std::size_t>(edition)].file;
}

std::string longDate(std::time_t when) {
    const std::tm tm = localTime(when);
    return std::to_string(tm.tm_mday) + " " + kMonths[static_cast<std::size_t>(tm.tm_mon % 12)] +
           " " + std::to_string(tm.tm_year + 1900);
}

std::string shortDateTime(std::time_t when) {
    const std::tm tm = localTime(when);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return text;
}

std::string daysAgo(std::time_t when, std::time_t now) {
    const std::int64_t days = localDay(now) - localDay(when);
    if (days <= 0) {
        return "today";
    }
    return days == 1 ? "yesterday" : std::to_string(days) + " days ago";
}

std::vector<std::vector<std::string>> historyTable(const std::vector<HistoryEntry>& entries) {
    std::vector<std::vector<std::string>> rows{
        {"When", "Unit", "Edition", "Outcome", "Lines sent", "Locations"}};
    for (const HistoryEntry& e : entries) {
        const RunRecord& r = e.run;
        rows.push_back(
            {shortDateTime(r.started), r.serialNumber, editionTitle(r), runEndText(r.end),
             std::to_string(r.linesSent) + " of " + std::to_string(r.lineCount), locationsText(r)});
    }
    return rows;
}

std::string tableText(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line.append(widths[i] - row[i].size() + 2, ' ');
            }
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace k9
