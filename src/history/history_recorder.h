#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "history/history_entry.h"
#include "update/run_events.h"

namespace k9 {

class EventLoop;
class HistoryStore;
class Timer;

// How long a record waits for a history that another process holds, and how often it tries.
inline constexpr std::int64_t kHistoryLockWaitMs = 1000;
inline constexpr std::int32_t kHistoryRetryMs = 100;

// Follows the runs and leaves one record in the history for every run that got a serial
// number. It never holds up a run: a history held by another process (two front ends at once)
// is tried again from the event loop for up to a second, then the record is skipped with one
// line through `note`.
class HistoryRecorder final : public RunObserver {
  public:
    using Note = std::function<void(const std::string&)>;
    using WallClock = std::function<std::time_t()>;

    // `loop` times the retries; `now` stands in for a run's end time when the run gave none.
    HistoryRecorder(
        HistoryStore& store, std::string version, Note note, EventLoop& loop,
        WallClock now = [] { return std::time(nullptr); });
    ~HistoryRecorder() override;
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    void runEnded(const RunRecord& record) override;
    // Gives what still waits its second, turning the loop meanwhile: for a program that ends
    // right after its run.
    void flush();

    // Records waiting for the history to be free.
    std::size_t waiting() const { return waiting_.size(); }

  private:
    struct Waiting {
        HistoryEntry entry;
        std::int64_t sinceMs;
    };
    // Writes what waits, oldest first, until the history is busy again.
    void writeWaiting();

    HistoryStore& store_;
    std::string version_;
    Note note_;
    EventLoop& loop_;
    WallClock now_;
    std::unique_ptr<Timer> retry_;
    std::deque<Waiting> waiting_;
};

}  // namespace k9
