#include "cli/run_report.h"

#include <cstdio>
#include <ostream>

namespace k9 {
namespace {

constexpr std::int64_t kRedrawMs = 100;

// Message boxes break lines with CR LF; a terminal wants LF alone.
std::string terminalText(std::string text) {
    for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos;) {
        text.replace(p, 2, "\n");
    }
    return text;
}

std::string clock(std::int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace

std::string stageName(int stage) {
    switch (stage) {
        case 1:
            return "waiting for the unit";
        case 2:
        case 3:
        case 4:
            return "handshake";
        case 5:
            return "download";
        case 6:
            return "sending";
        case 7:
            return "waiting for the answer on the unit";
        case 8:
            return "receiving stored locations";
        case 9:
            return "finishing";
        default:
            return "starting";
    }
}

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            s += '\\';
            s += c;
        } else if (c == '\r') {
            s += "\\r";
        } else if (c == '\n') {
            s += "\\n";
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

std::string RunReport::progressLine(const RunSnapshot& s, std::int64_t nowMs) const {
    const double seconds = static_cast<double>(nowMs - stageStartMs_) / 1000.0;
    char detail[160] = "";
    if (s.stage == 5 && s.totalBytes > 0) {
        // The rate of a finished download stays what it was at its end.
        const std::int64_t end = s.bytes < s.totalBytes ? nowMs : transferEndMs_;
        const double took = static_cast<double>(end - stageStartMs_) / 1000.0;
        const double rate = took > 0 ? static_cast<double>(s.bytes) / took / 1024.0 : 0;
        std::snprintf(detail, sizeof detail, "  %lld/%lld bytes  %.1f kB/s",
                      static_cast<long long>(s.bytes), static_cast<long long>(s.totalBytes), rate);
    } else if (s.stage == 6 && s.lineCount > 0) {
        const double rate = seconds > 0 ? s.linesSent / seconds : 0;
        const int n = std::snprintf(detail, sizeof detail, "  %d/%d lines  %.0f lines/s",
                                    s.linesSent, s.lineCount, rate);
        if (rate > 0 && n > 0) {
            const auto left = static_cast<std::int64_t>((s.lineCount - s.linesSent) / rate + 0.5);
            std::snprintf(detail + n, sizeof detail - static_cast<std::size_t>(n), "  %s left",
                          clock(left).c_str());
        }
    }
    return stageName(s.stage) + detail + "  " + std::to_string(s.percent) + " %";
}

void RunReport::update(const RunSnapshot& now, std::int64_t nowMs) {
    const bool newStage = now.stage != last_.stage;
    const bool newPercent = now.percent != last_.percent;
    if (newStage) {
        stageStartMs_ = nowMs;
    }
    if (now.bytes < now.totalBytes || now.bytes != last_.bytes) {
        transferEndMs_ = nowMs;
    }
    switch (style_) {
        case ReportStyle::Live:
            if (newStage) {
                endLiveLine();
            }
            if (newStage || nowMs - drawnMs_ >= kRedrawMs) {
                // Only a line that changed is written again.
                if (std::string line = progressLine(now, nowMs); newStage || line != drawn_) {
                    err_ << '\r' << line << "\x1b[K" << std::flush;
                    drawn_ = std::move(line);
                    lineDrawn_ = true;
                }
                drawnMs_ = nowMs;
            }
            break;
        case ReportStyle::Plain:
            if (newStage) {
                err_ << "stage " << now.stage << ": " << stageName(now.stage) << '\n';
            } else if (newPercent && now.percent / 10 != last_.percent / 10) {
                err_ << progressLine(now, nowMs) << '\n';
            }
            break;
        case ReportStyle::Json:
            if (newStage) {
                json("\"event\":\"stage\",\"stage\":" + std::to_string(now.stage) +
                     ",\"name\":" + jsonString(stageName(now.stage)));
            } else if (newPercent) {
                json("\"event\":\"progress\",\"stage\":" + std::to_string(now.stage) +
                     ",\"percent\":" + std::to_string(now.percent) +
                     ",\"lines\":" + std::to_string(now.linesSent) + ",\"lineCount\":" +
                     std::to_string(now.lineCount) + ",\"bytes\":" + std::to_string(now.bytes) +
                     ",\"totalBytes\":" + std::to_string(now.totalBytes));
            }
            break;
        case ReportStyle::Quiet:
            break;
    }
    last_ = now;
}

void RunReport::status(const std::string& text) {
    if (text == lastStatus_ || text.find('%') != std::string::npos) {
        return;
    }
    lastStatus_ = text;
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"status\",\"text\":" + jsonString(text));
    } else if (style_ != ReportStyle::Quiet) {
        endLiveLine();
        err_ << terminalText(text) << '\n';
    }
}

void RunReport::message(const Message& m) {
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"message\",\"title\":" + jsonString(m.title) +
             ",\"text\":" + jsonString(m.text));
    } else if (style_ != ReportStyle::Quiet) {
        endLiveLine();
        err_ << terminalText(m.text) << '\n';
    }
}

void RunReport::answer(bool yes) {
    if (style_ == ReportStyle::Json) {
        json(std::string("\"event\":\"answer\",\"answer\":") + (yes ? "\"yes\"" : "\"no\""));
    } else if (style_ != ReportStyle::Quiet) {
        err_ << "Answer: " << (yes ? "Yes" : "No") << '\n';
    }
}

void RunReport::note(const std::string& text) {
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"note\",\"text\":" + jsonString(text));
    } else if (style_ != ReportStyle::Quiet) {
        endLiveLine();
        err_ << text << '\n';
    }
}

void RunReport::outcome(int code, const std::string& text) {
    if (style_ == ReportStyle::Json) {
        json("\"event\":\"outcome\",\"code\":" + std::to_string(code) +
             ",\"text\":" + jsonString(text));
        return;
    }
    endLiveLine();
    (code == 0 || code == 6 ? out_ : err_) << terminalText(text) << std::endl;
}

void RunReport::endLiveLine() {
    if (lineDrawn_) {
        err_ << '\n';
        lineDrawn_ = false;
    }
}

void RunReport::json(const std::string& body) {
    out_ << '{' << body << '}' << std::endl;
}

}  // namespace k9
