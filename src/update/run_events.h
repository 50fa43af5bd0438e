#pragma once

// The run, told as events: what an update run does, as values, for everything that follows a
// run besides the window's own painting (the terminal front end, the support trace, the
// history, the desktop's notices). Nobody learns a run's state from a caption or a status
// text.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/main_view.h"
#include "update/run_record.h"

namespace k9 {

struct RunStart {
    int port = 0;      // the COM number chosen
    int edition = -1;  // the file list's index
    std::string remoteFile{};
    std::string workFolder{};
    std::string server{};  // host, or host:port
    std::time_t started = 0;
};

struct TransferProgress {
    std::int64_t bytes = 0;
    std::int64_t total = 0;
    bool download = true;
};

// What a server session turned out to be, once logged in.
struct SessionInfo {
    std::string server;
    bool encrypted = false;
    std::string tlsVersion;  // e.g. "TLSv1.3", when encrypted
    std::string cipher;
};

// Follows runs. Every call has an empty default, so an observer takes only what it needs.
// Observers run on the run's thread, inside the run: they must not yield, and whatever they
// throw is caught and costs only a line on stderr.
class RunObserver {
  public:
    virtual ~RunObserver() = default;

    // "Start Update" clicked: the run's port and file are chosen.
    virtual void runStarted(const RunStart&) {}
    // The user answered Yes to start the whole run again; stage 1 follows.
    virtual void runRestarted() {}
    virtual void portOpened(int /*port*/) {}
    virtual void stageEntered(Stage) {}
    // A tick of tmrCheck, or its restart at 0 when a keyword arrived.
    virtual void checkTick(std::int16_t /*retryCount*/) {}
    virtual void serialNumberReceived(const std::string& /*serial*/) {}
    virtual void sessionOpened(const SessionInfo&) {}
    virtual void transfer(const TransferProgress&) {}
    virtual void linesSent(std::int32_t /*sent*/, std::int32_t /*total*/) {}
    // The unit saves the file, then offers its stored locations; the run waits this long at
    // most for its answer.
    virtual void offerWait(std::int64_t /*waitMs*/) {}
    virtual void locationsReceived(std::int64_t /*bytes*/) {}
    // A status text the window shows that is not a progress count (those come as transfer
    // and linesSent).
    virtual void statusShown(const std::string& /*text*/) {}
    virtual void messageShown(const Message&, MessageAnswer) {}
    virtual void runEnded(const RunRecord&) {}
};

// Hands each event to every observer, in the order they were added. An observer that throws
// is reported on stderr and the others still get the event.
class RunEvents final : public RunObserver {
  public:
    void add(RunObserver& observer);
    void remove(RunObserver& observer);

    void runStarted(const RunStart& start) override;
    void runRestarted() override;
    void portOpened(int port) override;
    void stageEntered(Stage stage) override;
    void checkTick(std::int16_t retryCount) override;
    void serialNumberReceived(const std::string& serial) override;
    void sessionOpened(const SessionInfo& info) override;
    void transfer(const TransferProgress& progress) override;
    void linesSent(std::int32_t sent, std::int32_t total) override;
    void offerWait(std::int64_t waitMs) override;
    void locationsReceived(std::int64_t bytes) override;
    void statusShown(const std::string& text) override;
    void messageShown(const Message& message, MessageAnswer answer) override;
    void runEnded(const RunRecord& record) override;

  private:
    template <typename Call>
    void each(const Call& call);

    std::vector<RunObserver*> observers_;
};

// The text of each stage for people: "waiting for the unit", "download", ...
const char* stageName(Stage stage);

}  // namespace k9
