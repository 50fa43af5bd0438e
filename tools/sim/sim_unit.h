#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim_options.h"

namespace k9 {

// The detector's side of the line protocol, driven only by bytes in and time passing: the host
// feeds what the updater wrote, takes what the unit sends and wakes it at nextWakeMs(). It has
// no clock or thread of its own, so the same unit runs on a virtual clock in tests and on the
// wall clock behind a pseudo-terminal.
class SimUnit final {
  public:
    explicit SimUnit(SimOptions options);

    // The updater opened the port; a new session starts, as if the unit entered download mode.
    void connect(std::int64_t nowMs);
    // The port was closed: the session stops and output not yet taken is lost.
    void disconnect(std::int64_t nowMs);
    // Bytes the updater wrote at nowMs. Returns how many reached the unit: fewer than given when
    // the unit cut the line first.
    std::size_t feed(std::string_view bytes, std::int64_t nowMs);
    // Everything the unit has sent up to nowMs.
    std::string takeOutput(std::int64_t nowMs);
    // When the unit next has something to do (it may be now), or -1 for nothing planned.
    std::int64_t nextWakeMs() const;

    bool connected() const { return phase_ != Phase::kOffline; }
    // A disconnect fault fired: from now on the line is dead until the port is opened again.
    bool lineCut() const { return lineCut_; }
    // The current session played its script to the end (a scripted silence, disconnect or flood
    // counts as an end).
    bool completed() const { return completed_; }
    int stage() const { return stage_; }
    int sessions() const { return sessions_; }
    // Every byte that reached the unit, across sessions.
    const std::string& received() const { return received_; }
    // Data lines of the current session, without their CR LF.
    const std::vector<std::string>& dataLines() const { return dataLines_; }
    // One line per protocol step, across sessions.
    const std::vector<std::string>& log() const { return log_; }
    const SimOptions& options() const { return options_; }
    // The serial number as the unit sends it, with its fault applied.
    std::string sentSerial() const;

  private:
    enum class Phase { kOffline, kSendDue, kAwaitReply, kReceiving, kAwaitDone, kFlooding, kIdle };
    struct Fired {
        bool drop = false;
        bool late = false;
        bool garbageBefore = false;
        bool garbageInstead = false;
        bool noCr = false;
        bool merged = false;
        bool split = false;
        bool disconnect = false;
        bool disconnectAfterLines = false;
    };

    void runDue(std::int64_t nowMs);
    void act(std::int64_t atMs, std::int64_t nowMs);
    bool beginStage(int stage, std::int64_t atMs);
    void scheduleSend(int stage, std::int64_t fromMs, std::int64_t delayMs);
    void sendStage(std::int64_t atMs);
    void sendKeyword(std::int64_t atMs);
    void sendLocations(std::int64_t atMs);
    void awaitReply(std::int64_t atMs);
    void flood(std::int64_t nowMs);
    void takeByte(char c, std::int64_t nowMs);
    void onCode(const std::string& code, std::int64_t nowMs);
    void onReply(std::int64_t nowMs);
    void onDataLine(std::string text, std::int64_t nowMs);
    void cut(std::int64_t atMs, const std::string& why);
    void finish(std::int64_t atMs, const std::string& why);
    void goIdle();
    void emit(const std::string& bytes, std::int64_t atMs, const std::string& what);
    void note(std::int64_t atMs, const std::string& text);
    static bool fires(int faultStage, int stage, bool& fired);
    std::string message(int stage) const;
    std::string replyTo(int stage) const;

    SimOptions options_;
    Fired fired_;
    Phase phase_ = Phase::kOffline;
    int stage_ = 0;
    std::int64_t dueMs_ = -1;
    std::int64_t lastMs_ = 0;
    std::string expected_;
    bool nextPreSent_ = false;
    bool silent_ = false;
    bool completed_ = false;
    bool lineCut_ = false;
    bool dataStarted_ = false;
    int sessions_ = 0;
    std::string line_;
    std::string out_;
    std::string received_;
    std::string heldBack_;  // the second part of a split keyword
    std::int64_t heldBackMs_ = -1;
    std::size_t floodPos_ = 0;
    std::vector<std::string> dataLines_;
    std::vector<std::string> log_;
};

// Bytes as a log shows them: printable text as it is, CR, LF and ETX by name, others in hex.
std::string describeBytes(std::string_view bytes);

}  // namespace k9
