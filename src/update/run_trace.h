#pragma once

// The support trace of the update runs: the run's events, and the serial line seen through a
// decorator that notes what passes on it.

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "config/app_config.h"
#include "diagnostics/support_trace.h"
#include "platform/main_view.h"
#include "platform/serial_line.h"
#include "update/run_events.h"

namespace k9 {

class EventLoop;
class RunTrace;

// The serial line as the run sees it: the port and its settings, every chunk received, every
// reply sent, and the data lines as a count with the first and last few.
class TracingSerialLine final : public SerialLine {
  public:
    TracingSerialLine(SerialLine& inner, RunTrace& trace) : inner_(inner), trace_(trace) {}

    void setCommPort(std::int16_t port) override;
    std::int16_t commPort() const override { return inner_.commPort(); }
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return inner_.settings(); }
    void setInputLen(std::int16_t len) override { inner_.setInputLen(len); }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return inner_.portOpen(); }
    std::string input() override;
    void output(std::string_view bytes) override;

    // Closes the current run of data lines with its count and its last lines.
    void endDataLines();

  private:
    void dataLine(std::string_view bytes);

    SerialLine& inner_;
    RunTrace& trace_;
    std::int32_t dataLines_ = 0;
    std::int32_t dataBlocks_ = 0;
    std::deque<std::pair<std::int32_t, std::string>> lastLines_;
};

// Writes one trace file per run, when a trace is wanted, from the run's events.
class RunTrace final : public RunObserver {
  public:
    struct Setup {
        bool wanted = false;
        std::string folder = defaultTraceFolder();
        std::string version;
    };
    // Lines about the unit for the trace, once its serial number is known (its last runs).
    using UnitNotes = std::function<std::vector<std::string>(const std::string& serial)>;

    // `view` gets the hint on how to turn the trace on after a failed run without one.
    RunTrace(EventLoop& loop, SerialLine& serial, MainView& view, AppConfig config);

    void setup(Setup setup) { setup_ = std::move(setup); }
    const Setup& settings() const { return setup_; }
    void setUnitNotes(UnitNotes notes) { unitNotes_ = std::move(notes); }

    // The line to give the run: the real one, traced.
    SerialLine& line() { return line_; }
    SupportTrace& trace() { return trace_; }
    Stage stage() const { return stage_; }
    std::string devicePath(int port) const { return config_.devicePath(port); }
    // A line of what else happened (the history, the desktop), when a trace is being kept.
    void note(const std::string& tag, const std::string& text) { trace_.line(tag, text); }

    void runStarted(const RunStart& start) override;
    void runRestarted() override;
    void stageEntered(Stage stage) override;
    void checkTick(std::int16_t retryCount) override;
    void serialNumberReceived(const std::string& serial) override;
    void offerWait(std::int64_t waitMs) override;
    void statusShown(const std::string& text) override;
    void messageShown(const Message& message, MessageAnswer answer) override;
    void runEnded(const RunRecord& record) override;

  private:
    EventLoop& loop_;
    MainView& view_;
    AppConfig config_;
    Setup setup_;
    UnitNotes unitNotes_;
    SupportTrace trace_;
    TracingSerialLine line_;
    Stage stage_ = Stage::WaitSerial;
    std::int16_t retryCount_ = 0;
    std::string lastStatus_;
    int depth_ = 0;
};

}  // namespace k9
