#pragma once

#include <cstdint>
#include <functional>

#include "update/run_events.h"

namespace k9 {

// How far a run has come, as one percentage that never goes back while the run lasts, and
// what it waits for: built from the run's events alone. The window's bar keeps its designed
// values; the terminal's line and the task bar show this.
class RunProgress final : public RunObserver {
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds, any origin

    explicit RunProgress(Clock clock) : clock_(std::move(clock)) {}

    void runStarted(const RunStart&) override { reset(); }
    void runRestarted() override { reset(); }
    void stageEntered(Stage stage) override;
    void transfer(const TransferProgress& progress) override;
    void linesSent(std::int32_t sent, std::int32_t total) override;
    void offerWait(std::int64_t waitMs) override;
    void runEnded(const RunRecord& record) override;

    // 0 to 100; during the wait for the offer it climbs with the time waited.
    int percent() const;
    Stage stage() const { return stage_; }
    bool running() const { return running_; }
    // When the current stage began.
    std::int64_t stageStartMs() const { return stageStartMs_; }
    // What is left of the wait for the unit's offer, 0 when not waiting.
    std::int64_t offerLeftMs() const;
    const TransferProgress& lastTransfer() const { return transfer_; }
    std::int32_t sent() const { return sent_; }
    std::int32_t total() const { return total_; }

  private:
    void reset();
    void raise(int percent);

    Clock clock_;
    Stage stage_ = Stage::WaitSerial;
    bool running_ = false;
    int percent_ = 0;
    std::int64_t stageStartMs_ = 0;
    std::int64_t offerStartMs_ = 0;
    std::int64_t offerWaitMs_ = 0;
    TransferProgress transfer_{};
    std::int32_t sent_ = 0;
    std::int32_t total_ = 0;
};

}  // namespace k9
