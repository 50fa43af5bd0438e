#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "update/run_events.h"

namespace k9 {

class HistoryStore;
class MainView;

// "Last updated 2 November 2026 (Cameras), 36 days ago.", or what the history knows instead.
std::string lastUpdateText(HistoryStore& store, const std::string& serial, std::time_t now);

// The unit's last three runs, for the support trace's header, newest first.
std::vector<std::string> historyTraceLines(HistoryStore& store, const std::string& serial);

// The window's line under the status text once the unit's serial number has arrived: when the
// unit was last updated, told again when the run has ended. It goes when the next run starts.
class LastUpdateLine final : public RunObserver {
  public:
    using WallClock = std::function<std::time_t()>;

    LastUpdateLine(
        HistoryStore& store, MainView& view, WallClock now = [] { return std::time(nullptr); })
        : store_(store), view_(view), now_(std::move(now)) {}

    void runStarted(const RunStart&) override;
    void serialNumberReceived(const std::string& serial) override;
    void runEnded(const RunRecord& record) override;

  private:
    HistoryStore& store_;
    MainView& view_;
    WallClock now_;
    bool shown_ = false;
};

}  // namespace k9
