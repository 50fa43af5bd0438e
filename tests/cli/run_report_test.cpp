// k9update's output from a recorded sequence of run events, in each of its styles: what it
// prints, where, and in what order.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/run_report.h"
#include "cli/terminal_view.h"
#include "run_texts.h"
#include "update/run_outcome.h"

namespace k9 {
namespace {

struct At {
    std::int64_t ms;
    std::function<void(RunReport&)> event;
};

// A good run in brief: a question on the way, a status of several lines with trailing blanks,
// and the download's bar values that would go back from 15 to 10 if they were shown.
std::vector<At> goodRun(LocationsFate locations) {
    RunRecord end;
    end.end = RunEnd::Updated;
    end.port = 1;
    end.edition = 0;
    end.locations = locations;
    return {
        {0, [](RunReport& r) { r.runStarted({.port = 1, .edition = 0}); }},
        {0, [](RunReport& r) { r.statusShown("Please Wait....Connecting to K9"); }},
        {0, [](RunReport& r) { r.stageEntered(Stage::WaitSerial); }},
        {5, [](RunReport& r) { r.portOpened(1); }},
        {1000, [](RunReport& r) { r.checkTick(3); }},
        {2000, [](RunReport& r) { r.statusShown("K9 Serial Number: K9A1234"); }},
        {2000, [](RunReport& r) { r.stageEntered(Stage::WaitPassword); }},
        {4000, [](RunReport& r) { r.stageEntered(Stage::WaitGet); }},
        {6000, [](RunReport& r) { r.stageEntered(Stage::Download); }},
        {6000,
         [](RunReport& r) { r.statusShown("Connected to Server. \r\nBeginning Download..."); }},
        {6100,
         [](RunReport& r) {
             r.showMessage(
                 Message{"try again?", "K9", MessageIcon::Question, MessageButtons::YesNo}, true);
             r.showAnswer(true);
             r.messageShown(Message{"try again?", "K9"}, MessageAnswer::Yes);
         }},
        {6500, [](RunReport& r) { r.transfer(TransferProgress(1024, 4096, true)); }},
        {7000, [](RunReport& r) { r.transfer(TransferProgress(4096, 4096, true)); }},
        {7000, [](RunReport& r) { r.stageEntered(Stage::SendFile); }},
        {7000, [](RunReport& r) { r.statusShown("Sending Data to K9"); }},
        {8000, [](RunReport& r) { r.linesSent(150, 300); }},
        {9000, [](RunReport& r) { r.linesSent(300, 300); }},
        {9000, [](RunReport& r) { r.statusShown("Data sent to K9.   \r\nSelect 'Y' or 'N'.  "); }},
        {9000, [](RunReport& r) { r.stageEntered(Stage::WaitOffer); }},
        {9000, [](RunReport& r) { r.offerWait(120000); }},
        {24000, [](RunReport& r) { r.tick(); }},
        {129000, [](RunReport& r) { r.stageEntered(Stage::Finished); }},
        {131000, [](RunReport& r) { r.statusShown(test::kUpdated); }},
        {131000, [end](RunReport& r) { r.runEnded(end); }},
    };
}

struct Printed {
    std::string out;
    std::string err;
};

Printed play(ReportStyle style, const std::vector<At>& events) {
    std::ostringstream out, err;
    std::int64_t now = 0;
    RunReport report(style, out, err, [&now] { return now; });
    for (const At& at : events) {
        now = at.ms;
        at.event(report);
    }
    return {out.str(), err.str()};
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<int> percents(const std::string& text, const std::regex& pattern) {
    std::vector<int> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        found.push_back(std::stoi((*it)[1]));
    }
    return found;
}

TEST(RunReport, TheOutcomeOnceAndLastPercentNeverBackNoFrozenLines) {
    const std::string outcome = "Sentrel K9 updated.";
    for (const ReportStyle style : {ReportStyle::Live, ReportStyle::Plain, ReportStyle::Quiet}) {
        SCOPED_TRACE(static_cast<int>(style));
        const Printed p = play(style, goodRun(LocationsFate::Declined));
        EXPECT_EQ(p.out, outcome + "\n");
        // The designed completion text is the outcome's: not said twice.
        EXPECT_EQ(p.err.find("Close this program"), std::string::npos) << p.err;
        for (const std::string& line : split(p.err.substr(0, p.err.rfind('\n') + 1))) {
            // A live line ends in its erase code; one followed by a line break is frozen.
            const std::string shown = line.substr(line.rfind('\r') + 1);
            EXPECT_FALSE(shown.ends_with("\x1b[K")) << line;
        }
        const std::vector<int> seen = percents(p.err, std::regex("(\\d+) %"));
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << p.err;
        if (style == ReportStyle::Quiet) {
            EXPECT_EQ(p.err, "");
            continue;
        }
        // Messages, statuses (each once, without trailing blanks) and the port's hint.
        for (const char* said :
             {"COM1: put the unit into its download mode.\n", "K9 Serial Number: K9A1234\n",
              "Connected to Server.\nBeginning Download...\n", "try again?\nAnswer: Yes\n",
              "Data sent to K9.\nSelect 'Y' or 'N'.\n"}) {
            EXPECT_NE(p.err.find(said), std::string::npos) << said << "\n" << p.err;
        }
        if (style == ReportStyle::Live) {
            // After the data, what the run waits for and how long at most.
            EXPECT_NE(p.err.find("waiting for the unit to offer its stored locations, 1:45 left"),
                      std::string::npos)
                << p.err;
            EXPECT_TRUE(p.err.ends_with("\r\x1b[K")) << p.err;
        } else {
            EXPECT_NE(p.err.find("stage 6: sending\n"), std::string::npos) << p.err;
        }
    }
}

TEST(RunReport, JsonEventsCarryTheirTextsAsCleanLinesAndEndWithTheOutcome) {
    const Printed p = play(ReportStyle::Json, goodRun(LocationsFate::Unanswered));
    const std::vector<std::string> events = split(p.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(),
              R"({"event":"outcome","code":0,"end":"updated","locations":"unanswered",)"
              R"("text":"Sentrel K9 updated. Its stored locations were not collected: the unit )"
              R"(did not offer them within 2:00."})");
    EXPECT_NE(p.out.find(R"({"event":"status","lines":["Data sent to K9.","Select 'Y' or 'N'."]})"),
              std::string::npos)
        << p.out;
    EXPECT_NE(p.out.find(R"({"event":"message","title":"K9","lines":["try again?"],)"
                         R"("answer":"yes"})"),
              std::string::npos)
        << p.out;
    EXPECT_EQ(p.out.find("\\r"), std::string::npos);
    EXPECT_EQ(p.out.find(" \""), std::string::npos);
    const std::vector<int> seen = percents(p.out, std::regex("\"percent\":(\\d+)"));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << p.out;
    EXPECT_EQ(p.err, "");
}

// The exit codes scripts rely on, from how a run ended and what became of the locations.
TEST(RunReport, ExitCodeForEachWayARunEnds) {
    using enum RunEnd;
    using L = LocationsFate;
    const struct {
        RunEnd end;
        LocationsFate locations;
        std::int32_t earlierKept;
        bool earlierSent;
        int code;
    } rows[] = {{Updated, L::Uploaded, 0, false, 0},     {Updated, L::Declined, 2, true, 0},
                {Updated, L::Kept, 0, false, 6},         {Updated, L::NotReceived, 0, false, 6},
                {Updated, L::Unanswered, 2, false, 6},   {Failed, L::NotOffered, 0, false, 1},
                {NoAnswer, L::NotOffered, 0, false, 3},  {ServerFailed, L::NotOffered, 0, false, 4},
                {PortError, L::NotOffered, 0, false, 5}, {Stopped, L::Kept, 0, false, 130}};
    for (const auto& row : rows) {
        RunRecord r;
        r.end = row.end;
        r.locations = row.locations;
        r.earlierKept = row.earlierKept;
        r.earlierKeptSent = row.earlierSent;
        EXPECT_EQ(exitCodeFor(r), row.code) << runEndWord(row.end) << " " << row.earlierKept;
    }
}

// What the command line asks for, or the one line that names its problem.
TEST(CommandLine, ModesOptionsAndTheProblemNamed) {
    const struct {
        QStringList args;
        const char* error;  // empty: good
        CliMode mode = CliMode::Run;
        int port = -1, edition = -1;
    } rows[] = {
        {{"-p", "5", "-e", "schools", "--yes", "--json"}, "", CliMode::Run, 5, 1},
        {{"--port", "auto", "--edition", "test"}, "", CliMode::Run, kAutoPort, 2},
        {{"--list-ports"}, "", CliMode::ListPorts, -1, -1},
        {{"--send-kept"}, "", CliMode::SendKept, -1, -1},
        {{"--frobnicate"}, "Unknown option 'frobnicate'"},
        {{"--edition", "cameras"}, "--port is missing"},
        {{"--port", "13", "--edition", "cameras"}, "not '13'"},
        {{"--port", "x", "--edition", "cameras"}, "not 'x'"},
        {{"--port", "1"}, "--edition is missing"},
        {{"--port", "1", "--edition", "trucks"}, "not 'trucks'"},
        {{"--port", "1", "--edition", "cameras", "--retries", "-1"}, "--retries wants"},
        {{"--port", "1", "--edition", "cameras", "stray"}, "unexpected argument 'stray'"},
    };
    for (const auto& row : rows) {
        const CommandLine cl = parseCommandLine(QStringList{"k9update"} + row.args);
        SCOPED_TRACE(row.args.join(' ').toStdString());
        EXPECT_NE(cl.error.find(row.error), std::string::npos) << cl.error;
        EXPECT_EQ(cl.error.empty(), *row.error == '\0') << cl.error;
        if (cl.error.empty()) {
            EXPECT_EQ(std::tie(cl.options.mode, cl.options.port, cl.options.edition),
                      std::tie(row.mode, row.port, row.edition));
        }
    }
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
