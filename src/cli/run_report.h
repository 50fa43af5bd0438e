#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/main_view.h"
#include "update/run_events.h"
#include "update/run_progress.h"

namespace k9 {

enum class ReportStyle {
    Live,   // a terminal: one line redrawn in place below what was said
    Plain,  // a line per stage and every 10 %
    Json,   // one object a line per event, on stdout
    Quiet,  // the outcome only
};

// k9update's output, built from the run's events: what the unit and the server do on stderr
// (a live line on a terminal), the outcome as the last line on stdout, and nothing after it.
// In JSON every event is one object a line on stdout.
class RunReport final : public RunObserver {
  public:
    using Clock = std::function<std::int64_t()>;
    // The one line that says why a port could not be opened, after its messages.
    using PortCause = std::function<std::string(int port)>;

    RunReport(ReportStyle style, std::ostream& out, std::ostream& err, Clock clock);

    void setPortCause(PortCause cause) { portCause_ = std::move(cause); }
    // The line for the unit's port once it is open ("COM1 (/dev/ttyUSB0)").
    void setPortName(std::string name) { portName_ = std::move(name); }

    // A message box of the run: its text, above the live line; a question leaves the line
    // off until it is answered.
    void showMessage(const Message& message, bool question);
    void showAnswer(bool yes);
    // A line of k9update's own, above the live line.
    void note(const std::string& text);
    // The redraw timer: the live line follows the clock (rates, time left).
    void tick();
    // The live line as it would be drawn now.
    std::string progressLine() const;

    void runStarted(const RunStart& start) override;
    void runRestarted() override;
    void portOpened(int port) override;
    void stageEntered(Stage stage) override;
    void checkTick(std::int16_t retryCount) override;
    void sessionOpened(const SessionInfo& info) override;
    void transfer(const TransferProgress& progress) override;
    void linesSent(std::int32_t sent, std::int32_t total) override;
    void offerWait(std::int64_t waitMs) override;
    void locationsReceived(std::int64_t bytes) override;
    void statusShown(const std::string& text) override;
    void messageShown(const Message& message, MessageAnswer answer) override;
    void runEnded(const RunRecord& record) override;

  private:
    // A change worth telling now: the held status first, then the progress.
    void moved(bool stageChanged);
    void say(const std::string& text, bool redraw = true);
    void drawLive(bool force);
    void clearLive();
    void flushStatus();
    void jsonProgress();
    void json(const std::string& body);
    bool text() const { return style_ == ReportStyle::Live || style_ == ReportStyle::Plain; }

    ReportStyle style_;
    std::ostream& out_;
    std::ostream& err_;
    Clock clock_;
    RunProgress progress_;
    PortCause portCause_;
    std::string portName_;
    std::int16_t retryCount_ = -1;
    std::int64_t tickMs_ = 0;  // when the retry count last changed
    std::int64_t locationsBytes_ = 0;
    std::string heldStatus_;  // shown once the run moves on; the outcome replaces the last
    std::string saidStatus_;
    std::string drawn_;
    std::int64_t drawnMs_ = -1000;
    int toldPercent_ = -1;
    int toldTenth_ = 0;
};

// k9update's exit code for how a run ended (see --help).
int exitCodeFor(const RunRecord& run);
// The text as a JSON string, quotes included.
std::string jsonString(const std::string& text);
// A text of the run as a JSON list of its lines, without CR and trailing blanks.
std::string jsonLines(const std::string& text);

}  // namespace k9
