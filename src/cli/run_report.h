#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "platform/main_view.h"

namespace k9 {

// Where the run is, as the view and the run's record tell it.
struct RunSnapshot {
    int stage = 0;
    int percent = 0;  // the progress bar
    std::int32_t linesSent = 0;
    std::int32_t lineCount = 0;
    std::int64_t bytes = 0;  // the current server transfer
    std::int64_t totalBytes = 0;
};

enum class ReportStyle {
    Live,   // a terminal: one line redrawn in place
    Plain,  // a line per stage and every 10 %
    Json,   // one object a line per event, on stdout
    Quiet,  // the outcome only
};

// Turns what the run shows into lines for a person or a script. Progress and messages go to
// err, JSON and a good outcome to out.
class RunReport final {
  public:
    RunReport(ReportStyle style, std::ostream& out, std::ostream& err)
        : style_(style), out_(out), err_(err) {}

    // A change of stage or progress, or a tick of the redraw timer.
    void update(const RunSnapshot& now, std::int64_t nowMs);
    // A new text of the status label. Texts that only count up are left to update().
    void status(const std::string& text);
    // A message box, and the answer to it when it is a question.
    void message(const Message& m);
    void answer(bool yes);
    void note(const std::string& text);
    void outcome(int code, const std::string& text);

    // The redrawn line of the live style.
    std::string progressLine(const RunSnapshot& s, std::int64_t nowMs) const;

  private:
    void endLiveLine();
    void json(const std::string& body);

    ReportStyle style_;
    std::ostream& out_;
    std::ostream& err_;
    RunSnapshot last_;
    std::string lastStatus_;
    std::int64_t stageStartMs_ = 0;
    std::int64_t drawnMs_ = -1000;
    std::int64_t transferEndMs_ = 0;  // when the transfer last moved
    std::string drawn_;
    bool lineDrawn_ = false;
};

std::string stageName(int stage);
// The text as a JSON string, quotes included.
std::string jsonString(const std::string& text);

}  // namespace k9
