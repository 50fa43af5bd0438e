#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "internet/internet_layer.h"
#include "update/run_events.h"

namespace k9 {

class cFTP;
class EventLoop;
class HistoryStore;
class MainView;
class Timer;
struct UnitCheck;

// The window's check at start-up: for each unit the history has updated, whether a newer
// file of its edition waits on the server; when one does, the window's line under the status
// text says so. A server that does not answer costs nothing visible.
//
// It never holds up the window: it begins on a timer once the window is up, and its client
// gives the event loop turns while it waits, like every transfer. A run started meanwhile
// (inside one of those turns) ends the check at once: its connection is closed, its result
// dropped, and the run has the line to itself. Once a run has started the check never begins.
class StartupCheck final : public RunObserver {
  public:
    // Sooner than the run's own limits: nobody waits for this.
    static constexpr InternetSettings kSettings{.connectTimeout = std::chrono::seconds(10),
                                                .stallTimeout = std::chrono::seconds(15)};
    static constexpr std::int32_t kStartDelayMs = 1000;

    StartupCheck(EventLoop& loop, HistoryStore& store, MainView& view, std::string ftpHost);
    ~StartupCheck() override;
    StartupCheck(const StartupCheck&) = delete;
    StartupCheck& operator=(const StartupCheck&) = delete;

    // Arms the check; it begins after delayMs on the loop, never inside this call.
    void start(std::int32_t delayMs = kStartDelayMs);
    // Ends a check in progress (or keeps an armed one from beginning); for the window's close.
    void cancel();
    bool running() const { return running_; }
    // A check began and has come to its end, whole or cancelled.
    bool finished() const { return finished_; }
    // Units found with a newer file waiting, by the last check.
    const std::vector<std::string>& waiting() const { return waiting_; }

    void runStarted(const RunStart&) override;

  private:
    void check();

    EventLoop& loop_;
    HistoryStore& store_;
    MainView& view_;
    std::string ftpHost_;
    std::unique_ptr<Timer> timer_;
    std::weak_ptr<cFTP> ftp_;
    bool running_ = false;
    bool finished_ = false;
    bool cancelled_ = false;
    bool shown_ = false;
    std::vector<std::string> waiting_;
};

// The window's line when newer files wait: one unit, or several.
std::string waitingText(const std::vector<UnitCheck>& checks);

}  // namespace k9
