#include "cli/run_report.h"

#include <cstdio>
#include <ostream>

#include "cli/cli_options.h"
#include "update/device_link.h"
#include "update/run_outcome.h"

namespace k9 {
namespace {

constexpr std::int64_t kRedrawMs = 100;
constexpr std::int64_t kCheckTickMs = 5000;
constexpr int kNoAnswerTicks = 10;

// The lines of a text as the run builds them (CR LF), without trailing blanks.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find_first_of("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        if (end == std::string::npos) {
            break;
        }
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    while (lines.size() > 1 && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

std::string terminalText(const std::string& text) {
    std::string out;
    for (const std::string& line : linesOf(text)) {
        out += (out.empty() ? "" : "\n") + line;
    }
    return out;
}

}  // namespace

int exitCodeFor(const RunRecord& run) {
    switch (run.end) {
        case RunEnd::Updated: {
            const bool stayed = run.locations == LocationsFate::Kept ||
                                run.locations == LocationsFate::NotReceived ||
                                (run.earlierKept > 0 && !run.earlierKeptSent);
            return stayed ? exitcode::kLocationsKept : exitcode::kUpdated;
        }
        case RunEnd::NoAnswer:
            return exitcode::kNoAnswer;
        case RunEnd::ServerFailed:
            return exitcode::kServer;
        case RunEnd::PortError:
            return exitcode::kPort;
        case RunEnd::Stopped:
            return exitcode::kInterrupted;
        case RunEnd::Failed:
        case RunEnd::None:
            break;
    }
    return exitcode::kFailed;
}

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            s += esc;
        } else {
            s += c;
        }
    }
    return s + "\"";
}

std::string jsonLines(const std::string& text) {
    std::string list = "[";
    for (const std::string& line : linesOf(text)) {
        list += (list.size() > 1 ? "," : "") + jsonString(line);
    }
    return list + "]";
}

RunReport::RunReport(ReportStyle style, std::ostream& out, std::ostream& err, Clock clock)
    : style_(style), out_(out), err_(err), clock_(clock), progress_(clock) {}

// --- lines above the live line

void RunReport::clearLive() {
    if (!drawn_.empty()) {
        err_ << "\r\x1b[K";
        drawn_.clear();
    }
}

void RunReport::say(const std::string& text, bool redraw) {
    if (!this->text()) {
        return;
    }
    clearLive();
    err_ << terminalText(text) << '\n';
    if (redraw) {
        drawLive(true);
    } else {
        err_ << std::flush;
    }
}

void RunReport::showMessage(const Message& message, bool question) {
    flushStatus();
    say(message.text, !question);
}

void RunReport::showAnswer(bool yes) {
    say(std::string("Answer: ") + (yes ? "Yes" : "No"));
}

void RunReport::note(const std::string& text) {
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"note\",\"lines\":" + jsonLines(text));
    } else {
        say(text);
    }
}

void RunReport::flushStatus() {
    if (heldStatus_.empty()) {
        return;
    }
    const std::string text = std::move(heldStatus_);
    heldStatus_.clear();
    saidStatus_ = text;
    say(text);
}

// --- the live line

std::string RunReport::progressLine() const {
    const std::int64_t now = clock_();
    const Stage stage = progress_.stage();
    const double seconds = static_cast<double>(now - progress_.stageStartMs()) / 1000.0;
    const TransferProgress& t = progress_.lastTransfer();
    char detail[200] = "";
    std::string name = stageName(stage);
    if (stage <= Stage::WaitGet && retryCount_ >= 0) {
        const std::int64_t left = (kNoAnswerTicks - retryCount_) * kCheckTickMs - (now - tickMs_);
        name += ", gives up in " + minutesText(std::max<std::int64_t>(left, 0));
    } else if (stage == Stage::Download && t.download && t.total > 0) {
        const double rate = seconds > 0 ? static_cast<double>(t.bytes) / seconds / 1024.0 : 0;
        std::snprintf(detail, sizeof detail, "  %lld/%lld bytes  %.1f kB/s",
                      static_cast<long long>(t.bytes), static_cast<long long>(t.total), rate);
    } else if (stage == Stage::SendFile && progress_.total() > 0) {
        const double rate = seconds > 0 ? progress_.sent() / seconds : 0;
        const int n = std::snprintf(detail, sizeof detail, "  %d/%d lines  %.0f lines/s",
                                    progress_.sent(), progress_.total(), rate);
        if (rate > 0 && n > 0) {
            const auto left = static_cast<std::int64_t>(
                (progress_.total() - progress_.sent()) / rate * 1000.0 + 500);
            std::snprintf(detail + n, sizeof detail - static_cast<std::size_t>(n), "  %s left",
                          minutesText(left).c_str());
        }
    } else if (stage == Stage::WaitOffer && progress_.offerLeftMs() > 0) {
        name = "waiting for the unit to offer its stored locations, " +
               minutesText(progress_.offerLeftMs()) + " left";
    } else if (stage == Stage::ReceiveLocations && !t.download && t.total > 0) {
        name = "sending stored locations to the server";
        std::snprintf(detail, sizeof detail, "  %lld/%lld bytes", static_cast<long long>(t.bytes),
                      static_cast<long long>(t.total));
    } else if (stage == Stage::ReceiveLocations && locationsBytes_ > 0) {
        std::snprintf(detail, sizeof detail, "  %lld bytes",
                      static_cast<long long>(locationsBytes_));
    }
    return name + detail + "  " + std::to_string(progress_.percent()) + " %";
}

void RunReport::drawLive(bool force) {
    if (style_ != ReportStyle::Live || !progress_.running()) {
        return;
    }
    const std::int64_t now = clock_();
    if (!force && now - drawnMs_ < kRedrawMs) {
        return;
    }
    std::string line = progressLine();
    if (force || line != drawn_) {
        err_ << '\r' << line << "\x1b[K" << std::flush;
        drawn_ = std::move(line);
    }
    drawnMs_ = now;
}

void RunReport::tick() {
    drawLive(false);
    if (style_ == ReportStyle::Json || style_ == ReportStyle::Plain) {
        moved(false);
    }
}

void RunReport::jsonProgress() {
    const TransferProgress& t = progress_.lastTransfer();
    json("\"event\":\"progress\",\"stage\":" + std::to_string(static_cast<int>(progress_.stage())) +
         ",\"percent\":" + std::to_string(progress_.percent()) + ",\"lines\":" +
         std::to_string(progress_.sent()) + ",\"lineCount\":" + std::to_string(progress_.total()) +
         ",\"bytes\":" + std::to_string(t.bytes) + ",\"totalBytes\":" + std::to_string(t.total));
}

void RunReport::moved(bool stageChanged) {
    if (text()) {
        flushStatus();
    }
    const int percent = progress_.percent();
    switch (style_) {
        case ReportStyle::Live:
            drawLive(stageChanged);
            break;
        case ReportStyle::Plain:
            if (stageChanged) {
                err_ << "stage " << static_cast<int>(progress_.stage()) << ": "
                     << stageName(progress_.stage()) << '\n';
            } else if (percent / 10 > toldTenth_) {
                err_ << progressLine() << '\n';
            }
            toldTenth_ = percent / 10;
            break;
        case ReportStyle::Json:
            if (stageChanged) {
                json("\"event\":\"stage\",\"stage\":" +
                     std::to_string(static_cast<int>(progress_.stage())) +
                     ",\"name\":" + jsonString(stageName(progress_.stage())));
            } else if (percent != toldPercent_) {
                jsonProgress();
            }
            break;
        case ReportStyle::Quiet:
            break;
    }
    toldPercent_ = percent;
}

// --- the run's events

void RunReport::runStarted(const RunStart& start) {
    progress_.runStarted(start);
    retryCount_ = -1;
    locationsBytes_ = 0;
    toldPercent_ = -1;
    toldTenth_ = 0;
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"start\",\"port\":" + std::to_string(start.port) + ",\"edition\":" +
             std::to_string(start.edition) + ",\"file\":" + jsonString(start.remoteFile));
    }
}

void RunReport::runRestarted() {
    progress_.runRestarted();
    retryCount_ = -1;
    note("The update starts again from the beginning.");
}

void RunReport::portOpened(int port) {
    const std::string name = portName_.empty() ? "COM" + std::to_string(port) : portName_;
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"port\",\"port\":" + std::to_string(port) + ",\"state\":\"open\"");
    } else {
        say(name + ": put the unit into its download mode.");
    }
}

void RunReport::stageEntered(Stage stage) {
    progress_.stageEntered(stage);
    if (stage > Stage::WaitGet) {
        retryCount_ = -1;
    }
    moved(true);
}

void RunReport::checkTick(std::int16_t retryCount) {
    retryCount_ = retryCount;
    tickMs_ = clock_();
    drawLive(true);
}

void RunReport::sessionOpened(const SessionInfo& info) {
    if (style_ == ReportStyle::Json) {
        json(std::string("\"event\":\"session\",\"encrypted\":") +
             (info.encrypted ? "true" : "false") + ",\"tls\":" + jsonString(info.tlsVersion) +
             ",\"cipher\":" + jsonString(info.cipher));
    }
}

void RunReport::transfer(const TransferProgress& t) {
    progress_.transfer(t);
    moved(false);
}

void RunReport::linesSent(std::int32_t sent, std::int32_t total) {
    progress_.linesSent(sent, total);
    moved(false);
}

void RunReport::offerWait(std::int64_t waitMs) {
    progress_.offerWait(waitMs);
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"wait\",\"for\":\"offer\",\"seconds\":" + std::to_string(waitMs / 1000));
    }
    moved(false);
}

void RunReport::locationsReceived(std::int64_t bytes) {
    locationsBytes_ = bytes;
    moved(false);
}

void RunReport::statusShown(const std::string& text) {
    // Stage 8 writes its text on every pass: once is enough.
    if (text == heldStatus_ || (heldStatus_.empty() && text == saidStatus_)) {
        return;
    }
    if (style_ == ReportStyle::Json) {
        saidStatus_ = text;
        json("\"event\":\"status\",\"lines\":" + jsonLines(text));
        return;
    }
    flushStatus();
    heldStatus_ = text;
}

void RunReport::messageShown(const Message& message, MessageAnswer answer) {
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"message\",\"title\":" + jsonString(message.title) + ",\"lines\":" +
             jsonLines(message.text) + ",\"answer\":\"" + std::string(answerWord(answer)) + "\"");
    }
}

void RunReport::runEnded(const RunRecord& record) {
    progress_.runEnded(record);
    // The last status is the outcome, told once below.
    heldStatus_.clear();
    clearLive();
    const int code = exitCodeFor(record);
    if (record.end == RunEnd::PortError && portCause_ && text()) {
        if (const std::string cause = portCause_(record.port); !cause.empty()) {
            err_ << terminalText(cause) << '\n';
        }
    }
    const std::string outcome = outcomeText(record);
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"outcome\",\"code\":" + std::to_string(code) + ",\"end\":\"" +
             std::string(runEndWord(record.end)) + "\",\"locations\":\"" +
             std::string(locationsWord(record.locations)) + "\",\"text\":" + jsonString(outcome));
        return;
    }
    err_ << std::flush;
    out_ << outcome << std::endl;
}

void RunReport::json(const std::string& body) {
    out_ << '{' << body << '}' << std::endl;
}

}  // namespace k9
