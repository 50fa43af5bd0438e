// The terminal's progress line and the JSON events, from one table of what the run tells the
// view, on a clock the test moves.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <vector>

#include "cli/run_report.h"
#include "cli/terminal_view.h"
#include "update/run_record.h"

namespace k9 {
namespace {

struct Step {
    std::int64_t atMs;
    std::function<void(TerminalView&, RunRecord&)> call;
    const char* live;  // what the live line shows after the call (empty: nothing new)
    const char* json;  // the event printed (empty: none)
};

const Step kSteps[] = {
    {0, [](auto& v, auto&) { v.setCaption(Caption::Stage, "1  "); }, "waiting for the unit  0 %",
     R"({"event":"stage","stage":1,"name":"waiting for the unit"})"},
    {10, [](auto& v, auto&) { v.setCaption(Caption::Stage, "1  "); }, "", ""},
    {1000, [](auto& v, auto&) { v.setCaption(Caption::Stage, "5  "); }, "download  0 %",
     R"({"event":"stage","stage":5,"name":"download"})"},
    {1500, [](auto& v, auto&) { v.setProgress(25); }, "download  25 %",
     R"({"event":"progress","stage":5,"percent":25,"lines":0,"lineCount":0,"bytes":0,"totalBytes":0})"},
    // A finished download keeps its rate, so the line does not change.
    {1900, [](auto& v, auto&) { v.refresh(); }, "", ""},
    {2000, [](auto& v, auto&) { v.setCaption(Caption::Stage, "6  "); }, "sending  25 %",
     R"({"event":"stage","stage":6,"name":"sending"})"},
    {3000,
     [](auto& v, auto& r) {
         r.lineCount = 300, r.linesSent = 60;
         v.setProgress(26);
     },
     "sending  60/300 lines  60 lines/s  0:04 left  26 %",
     R"({"event":"progress","stage":6,"percent":26,"lines":60,"lineCount":300,"bytes":0,"totalBytes":0})"},
    // Faster than ten a second: the line waits, the event does not.
    {3050,
     [](auto& v, auto& r) {
         r.linesSent = 63;
         v.setProgress(27);
     },
     "",
     R"({"event":"progress","stage":6,"percent":27,"lines":63,"lineCount":300,"bytes":0,"totalBytes":0})"},
    {3100, [](auto& v, auto&) { v.refresh(); },
     "sending  63/300 lines  57 lines/s  0:04 left  27 %", ""},
    {3200, [](auto& v, auto&) { v.setStatusText("Sending Data to K9... 21%"); }, "", ""},
    {3300, [](auto& v, auto&) { v.setStatusText("Data sent to K9.\r\nPlease wait"); }, "",
     R"({"event":"status","text":"Data sent to K9.\r\nPlease wait"})"},
    {3400,
     [](auto& v, auto&) {
         v.showMessage(Message{"try again?", "K9", MessageIcon::Question, MessageButtons::YesNo});
     },
     "",
     R"({"event":"message","title":"K9","text":"try again?"})"
     "\n"
     R"({"event":"answer","answer":"yes"})"},
};

std::string lastLiveLine(const std::string& err) {
    const auto cr = err.rfind('\r');
    return cr == std::string::npos ? "" : err.substr(cr + 1, err.size() - cr - 1 - 3);
}

TEST(RunReport, LiveLineAndJsonEventsFollowTheViewCalls) {
    std::ostringstream none;
    std::istringstream noInput;
    Answers answers(true, 2, false, noInput, none);
    std::int64_t now = 0;
    std::ostringstream liveErr, jsonOut;
    RunReport live(ReportStyle::Live, none, liveErr);
    RunReport json(ReportStyle::Json, jsonOut, none);
    TerminalView liveView(live, answers, [&now] { return now; });
    TerminalView jsonView(json, answers, [&now] { return now; });
    RunRecord record;
    liveView.watch(record);
    jsonView.watch(record);
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.atMs);
        now = step.atMs;
        const std::size_t liveBefore = liveErr.str().size();
        jsonOut.str("");
        step.call(liveView, record);
        step.call(jsonView, record);
        const std::string added = liveErr.str().substr(liveBefore);
        EXPECT_EQ(added.find('\r') == std::string::npos ? "" : lastLiveLine(added), step.live);
        const std::string events = jsonOut.str();
        EXPECT_EQ(events.empty() ? "" : events.substr(0, events.size() - 1), step.json);
    }
    EXPECT_EQ(none.str(), "");
}

TEST(Answers, YesUpToItsCountThenTheTerminalOrNo) {
    using enum MessageAnswer;
    const struct Row {
        bool yes;
        int retries;
        bool interactive;
        const char* typed;
        std::vector<MessageAnswer> answers;
    } rows[] = {{true, 2, true, "n\n", {Yes, Yes, No}},
                {true, 0, false, "", {No}},
                {false, 2, false, "y\n", {No}},
                {false, 2, true, "y\nno\nYes\n\n", {Yes, No, Yes, No}}};
    for (const auto& row : rows) {
        std::istringstream in(row.typed);
        std::ostringstream prompt;
        Answers answers(row.yes, row.retries, row.interactive, in, prompt);
        for (const MessageAnswer expected : row.answers) {
            EXPECT_EQ(answers.ask(), expected) << row.typed;
        }
        EXPECT_EQ(prompt.str().empty(), row.yes || !row.interactive);
    }
}

}  // namespace
}  // namespace k9
