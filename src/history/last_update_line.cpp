#include "history/last_update_line.h"

#include "history/history_store.h"
#include "platform/main_view.h"

namespace k9 {

namespace {
constexpr int kTraceRuns = 3;
}  // namespace

std::string lastUpdateText(HistoryStore& store, const std::string& serial, std::time_t now) {
    if (const auto last = store.lastUpdate(serial)) {
        const RunRecord& run = last->run;
        return "Last updated " + longDate(run.ended) + " (" + editionTitle(run) + "), " +
               daysAgo(run.ended, now) + ".";
    }
    const std::vector<HistoryEntry> tried = store.runs(serial, 1);
    if (tried.empty()) {
        return "No earlier update of this unit on this computer.";
    }
    return "Not updated on this computer yet; last tried " + daysAgo(tried[0].run.ended, now) +
           " (" + runEndText(tried[0].run.end) + ").";
}

std::vector<std::string> historyTraceLines(HistoryStore& store, const std::string& serial) {
    const std::vector<HistoryEntry> runs = store.runs(serial, kTraceRuns);
    if (runs.empty()) {
        return {"history: no earlier run of this unit"};
    }
    std::vector<std::string> lines;
    for (const HistoryEntry& e : runs) {
        const RunRecord& r = e.run;
        lines.push_back("history: " + shortDateTime(r.started) + " " + editionTitle(r) + ": " +
                        runEndText(r.end) + ", " + std::to_string(r.linesSent) + " of " +
                        std::to_string(r.lineCount) + " lines, locations " + locationsText(r) +
                        (r.reason.empty() ? "" : ", " + r.reason) + " (" + e.version + ")");
    }
    return lines;
}

void LastUpdateLine::runStarted(const RunStart&) {
    if (shown_) {
        view_.setStatusAside("");
        shown_ = false;
    }
}

void LastUpdateLine::serialNumberReceived(const std::string& serial) {
    view_.setStatusAside(lastUpdateText(store_, serial, now_()));
    shown_ = true;
}

void LastUpdateLine::runEnded(const RunRecord& record) {
    // The run just ended is the unit's history now: "Last updated ... today."
    if (shown_ && !record.serialNumber.empty()) {
        view_.setStatusAside(lastUpdateText(store_, record.serialNumber, now_()));
    }
}

}  // namespace k9
