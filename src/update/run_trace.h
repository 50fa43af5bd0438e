#pragma once

// The support trace of the update runs: the window and the serial line seen through two
// decorators that note what happens on them, and the beginning and end of each run.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "config/app_config.h"
#include "diagnostics/support_trace.h"
#include "platform/main_view.h"
#include "platform/serial_line.h"

namespace k9 {

class EventLoop;
struct UpdateState;
struct ProgramVars;

class RunTracer;

// The main window as the run sees it: stage changes, retry counts, status texts and each
// message box with its answer go to the trace.
class TracingView final : public MainView {
  public:
    TracingView(MainView& inner, RunTracer& tracer) : inner_(inner), tracer_(tracer) {}

    void setStatusText(const std::string& text) override;
    std::string statusText() const override { return inner_.statusText(); }
    void setStatusFontName(const std::string& name) override { inner_.setStatusFontName(name); }
    void setStatusFontSize(double points) override { inner_.setStatusFontSize(points); }
    void setStatusBold(bool bold) override { inner_.setStatusBold(bold); }
    void setStatusAlignment(Alignment a) override { inner_.setStatusAlignment(a); }
    void setStatusNote(const std::string& note) override { inner_.setStatusNote(note); }
    void setProgress(int value) override { inner_.setProgress(value); }
    int progress() const override { return inner_.progress(); }
    void setCaption(Caption which, const std::string& text) override;
    std::string caption(Caption which) const override { return inner_.caption(which); }
    void setEnabled(Control which, bool on) override { inner_.setEnabled(which, on); }
    void focusGo() override { inner_.focusGo(); }
    void clearSentText() override { inner_.clearSentText(); }
    void setBusyPointer(bool busy) override { inner_.setBusyPointer(busy); }
    MessageAnswer showMessage(const Message& message) override;
    void clearPorts() override { inner_.clearPorts(); }
    void addPort(const std::string& entry) override { inner_.addPort(entry); }
    int portCount() const override { return inner_.portCount(); }
    std::string portEntry(int index) const override { return inner_.portEntry(index); }
    void selectPort(int index) override { inner_.selectPort(index); }
    int selectedPort() const override { return inner_.selectedPort(); }
    void setPortTooltip(int index, const std::string& t) override {
        inner_.setPortTooltip(index, t);
    }
    void setPortDetail(const std::string& text) override { inner_.setPortDetail(text); }
    void insertFile(int index, const std::string& e) override { inner_.insertFile(index, e); }
    void selectFile(int index) override { inner_.selectFile(index); }
    int selectedFile() const override { return inner_.selectedFile(); }
    void setFilterChecked(bool checked) override { inner_.setFilterChecked(checked); }
    bool filterChecked() const override { return inner_.filterChecked(); }

  private:
    MainView& inner_;
    RunTracer& tracer_;
    std::string lastStatus_;
};

// The serial line as the run sees it: the port and its settings, every chunk received, every
// reply sent, and the data lines as a count with the first and last few.
class TracingSerialLine final : public SerialLine {
  public:
    TracingSerialLine(SerialLine& inner, RunTracer& tracer) : inner_(inner), tracer_(tracer) {}

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
    RunTracer& tracer_;
    std::int32_t dataLines_ = 0;
    std::int32_t dataBlocks_ = 0;
    std::deque<std::pair<std::int32_t, std::string>> lastLines_;
};

class RunTracer final {
  public:
    struct Setup {
        bool wanted = false;
        std::string folder = defaultTraceFolder();
        std::string version;
    };

    RunTracer(MainView& view, SerialLine& serial, AppConfig config);

    // Called once the update state exists.
    void attach(EventLoop& loop, const UpdateState& state, const ProgramVars& vars);
    void setup(Setup setup) { setup_ = std::move(setup); }
    const Setup& settings() const { return setup_; }

    MainView& view() { return view_; }
    SerialLine& line() { return line_; }
    SupportTrace& trace() { return trace_; }

    // Opens the run's file when a trace is wanted; a folder that cannot be written costs a
    // line on stderr and nothing else.
    void beginRun();
    // The outcome, where the driver's locations ended up, and the file closed.
    void endRun();

    // Registers the serial number and the password once they are known.
    void syncSecrets();
    // Notes a new stage (and flushes the file), seen from the steps of a pass.
    void checkStage();
    std::int16_t stage() const;
    std::string devicePath(int port) const { return config_.devicePath(port); }

    // Run for the length of one click on "Start Update".
    class Scope {
      public:
        explicit Scope(RunTracer& tracer) : tracer_(tracer) { tracer_.beginRun(); }
        ~Scope() { tracer_.endRun(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        RunTracer& tracer_;
    };

  private:
    std::string locationsOutcome() const;

    MainView& inner_;
    AppConfig config_;
    Setup setup_;
    SupportTrace trace_;
    TracingView view_;
    TracingSerialLine line_;
    EventLoop* loop_ = nullptr;
    const UpdateState* state_ = nullptr;
    const ProgramVars* vars_ = nullptr;
    std::string serial_;
    std::int16_t lastStage_ = 0;
    bool doneInStage8_ = false;
    int depth_ = 0;

    friend class TracingSerialLine;
};

}  // namespace k9
