#include "update/run_trace.h"

#include <cstdio>
#include <exception>
#include <filesystem>

#include "config/program_vars.h"
#include "platform/event_loop.h"
#include "update/device_link.h"
#include "update/update_state.h"

namespace k9 {
namespace {

// The first and the last data lines the trace shows of each file sent.
constexpr std::int32_t kShownDataLines = 3;
// Messages and status texts are shown whole, up to this.
constexpr std::size_t kLongLineBytes = 1024;

constexpr const char* kTraceHint =
    "For support: turn on Help > \"Keep a Support Trace\" (or trace = on in "
    "k9updater.conf) and run the update again; the trace can then be sent with "
    "\"Save Support Trace...\".";

const char* answerText(MessageAnswer answer) {
    switch (answer) {
        case MessageAnswer::Yes:
            return "Yes";
        case MessageAnswer::No:
            return "No";
        case MessageAnswer::Ok:
            break;
    }
    return "OK";
}

// Progress texts repeat with a new percentage: one line for each kind is enough.
bool sameProgress(std::string_view text, std::string_view before) {
    if (text.find('%') == std::string_view::npos || before.find('%') == std::string_view::npos) {
        return false;
    }
    const auto cut = text.find_first_of("0123456789");
    return text.substr(0, cut) == before.substr(0, cut);
}

const char* stageMeaning(int stage) {
    switch (stage) {
        case 1:
            return "waiting for #FTPUN and the serial number";
        case 2:
            return "waiting for #FTPPW";
        case 3:
            return "waiting for #FTPFILEP";
        case 4:
            return "waiting for #FTPGET";
        case 5:
            return "connecting to the server and downloading the file";
        case 6:
            return "sending the file to the unit";
        case 7:
            return "waiting for the answer to the locations offer";
        case 8:
            return "receiving the driver's locations";
        default:
            return "finished";
    }
}

bool isFailure(const std::string& status) {
    return status.find("unsuccessful") != std::string::npos ||
           status.rfind("Unable to communicate", 0) == 0;
}

std::string describe(const std::exception& e) {
    return e.what();
}

}  // namespace

// --- the view

void TracingView::setStatusText(const std::string& text) {
    inner_.setStatusText(text);
    SupportTrace& trace = tracer_.trace();
    if (trace.on()) {
        tracer_.syncSecrets();
        if (!sameProgress(text, lastStatus_)) {
            trace.line("status", text, kLongLineBytes);
        }
        lastStatus_ = text;
    }
}

void TracingView::setCaption(Caption which, const std::string& text) {
    inner_.setCaption(which, text);
    SupportTrace& trace = tracer_.trace();
    if (!trace.on()) {
        return;
    }
    switch (which) {
        case Caption::Stage:
            tracer_.checkStage();
            break;
        case Caption::RetryCount:
            tracer_.checkStage();
            trace.line("retry", (text == "0" ? "tmrCheck restarted, retry count "
                                             : "tmrCheck tick, retry count ") +
                                    text);
            break;
        case Caption::PortState:
        case Caption::Dots:
            break;
    }
}

MessageAnswer TracingView::showMessage(const Message& message) {
    SupportTrace& trace = tracer_.trace();
    if (trace.on()) {
        tracer_.syncSecrets();
        trace.line("msgbox", "[" + message.title + "] " + message.text, kLongLineBytes);
        trace.flush();
    }
    const MessageAnswer answer = inner_.showMessage(message);
    trace.line("answer", answerText(answer));
    return answer;
}

// --- the serial line

void TracingSerialLine::setCommPort(std::int16_t port) {
    inner_.setCommPort(port);
    if (tracer_.trace().on()) {
        const std::string device = tracer_.devicePath(port);
        tracer_.trace().line("port", "COM" + std::to_string(port) + " is " +
                                         (device.empty() ? "not in the port map" : device));
    }
}

void TracingSerialLine::setSettings(const std::string& settings) {
    inner_.setSettings(settings);
    if (tracer_.trace().on()) {
        tracer_.trace().line("port", "line settings " + settings + ", no flow control");
    }
}

void TracingSerialLine::setPortOpen(bool open) {
    try {
        inner_.setPortOpen(open);
    } catch (const std::exception& e) {
        if (tracer_.trace().on()) {
            tracer_.trace().line("port", (open ? "open failed: " : "close failed: ") + describe(e));
        }
        throw;
    }
    tracer_.trace().line("port", open ? "opened" : "closed");
}

std::string TracingSerialLine::input() {
    try {
        std::string chunk = inner_.input();
        tracer_.checkStage();
        if (!chunk.empty()) {
            tracer_.trace().line("rx", chunk);
        }
        return chunk;
    } catch (const std::exception& e) {
        if (tracer_.trace().on()) {
            tracer_.trace().line("rx", "read failed: " + describe(e));
        }
        throw;
    }
}

void TracingSerialLine::output(std::string_view bytes) {
    SupportTrace& trace = tracer_.trace();
    if (!trace.on()) {
        inner_.output(bytes);
        return;
    }
    tracer_.syncSecrets();
    tracer_.checkStage();
    const bool data = tracer_.stage() == 6 && bytes != line::kEndOfData &&
                      bytes != line::kDoneCode && bytes != line::kAcknowledgement;
    if (data) {
        dataLine(bytes);
        return;
    }
    endDataLines();
    if (bytes == line::kDoneCode && tracer_.stage() == 8) {
        tracer_.doneInStage8_ = true;
    }
    try {
        inner_.output(bytes);
    } catch (const std::exception& e) {
        trace.line("tx", "write failed: " + describe(e) + ": " + std::string(bytes));
        throw;
    }
    trace.line("tx", bytes);
}

void TracingSerialLine::dataLine(std::string_view bytes) {
    SupportTrace& trace = tracer_.trace();
    if (dataLines_ == 0) {
        trace.line("data", ++dataBlocks_ == 1 ? "sending the file"
                                              : "sending the file again from its first line");
    }
    const std::int32_t number = dataLines_ + 1;
    try {
        inner_.output(bytes);
    } catch (const std::exception& e) {
        endDataLines();
        trace.line("data", "line " + std::to_string(number) + " failed (" + describe(e) +
                               "): " + std::string(bytes));
        throw;
    }
    dataLines_ = number;
    if (number <= kShownDataLines) {
        trace.line("data", "line " + std::to_string(number) + ": " + std::string(bytes));
        return;
    }
    lastLines_.emplace_back(number, bytes);
    if (lastLines_.size() > static_cast<std::size_t>(kShownDataLines)) {
        lastLines_.pop_front();
    }
}

void TracingSerialLine::endDataLines() {
    if (dataLines_ == 0) {
        return;
    }
    SupportTrace& trace = tracer_.trace();
    for (const auto& [number, text] : lastLines_) {
        trace.line("data", "line " + std::to_string(number) + ": " + text);
    }
    trace.line("data", std::to_string(dataLines_) + " data lines sent");
    dataLines_ = 0;
    lastLines_.clear();
}

// --- the run

RunTracer::RunTracer(MainView& view, SerialLine& serial, AppConfig config)
    : inner_(view), config_(std::move(config)), view_(view, *this), line_(serial, *this) {
    setup_.wanted = config_.trace || traceRequestedByEnvironment();
}

void RunTracer::attach(EventLoop& loop, const UpdateState& state, const ProgramVars& vars) {
    loop_ = &loop;
    state_ = &state;
    vars_ = &vars;
}

std::int16_t RunTracer::stage() const {
    return state_ != nullptr ? state_->iStage : 0;
}

void RunTracer::beginRun() {
    if (depth_++ > 0) {
        // A click during the yields of a stopped run: its run goes into the same file.
        trace_.line("run", "update started again while the stopped run unwinds");
        return;
    }
    inner_.setStatusNote({});
    if (!setup_.wanted || loop_ == nullptr) {
        return;
    }
    std::string error;
    EventLoop* loop = loop_;
    if (!trace_.open(
            setup_.folder, setup_.version, [loop] { return loop->tickMs(); }, &error)) {
        std::fprintf(stderr, "k9updater: no support trace for this run: %s\n", error.c_str());
        return;
    }
    serial_.clear();
    lastStage_ = 0;
    doneInStage8_ = false;
    syncSecrets();
    trace_.line("run", "update started for " + vars_->vDeviceName + ", server " + config_.ftpHost +
                           ", download list entry " + std::to_string(inner_.selectedFile()));
    trace_.line("run", "working folder " + vars_->sTempFolder);
}

void RunTracer::syncSecrets() {
    if (state_ == nullptr || state_->sSerialNumber.empty() || state_->sSerialNumber == serial_) {
        return;
    }
    serial_ = state_->sSerialNumber;
    // Very short numbers are hidden whole: two characters of three would give most away.
    trace_.addSecret(serial_, serial_.size() > 3 ? 2 : 0);
    trace_.addSecret(std::string(serial_.rbegin(), serial_.rend()), 0);
    if (!state_->sFtpPassword.empty()) {
        trace_.addSecret(state_->sFtpPassword, 0);
    }
}

void RunTracer::checkStage() {
    if (!trace_.on() || stage() == lastStage_) {
        return;
    }
    lastStage_ = stage();
    line_.endDataLines();
    syncSecrets();
    trace_.release();
    trace_.line("stage", std::to_string(stage()) + ": " + stageMeaning(stage()));
    trace_.flush();
    // Until the serial number is known, what the unit sends may hold part of it.
    if (stage() == 1) {
        trace_.hold();
    }
}

std::string RunTracer::locationsOutcome() const {
    if (!serial_.empty() &&
        std::filesystem::exists(vars_->sTempFolder + state_->sSerialNumber + ".txt")) {
        return "kept in the working folder as " + state_->sSerialNumber + ".txt";
    }
    return doneInStage8_ ? "uploaded to the server" : "not received: they stay on the unit";
}

void RunTracer::endRun() {
    if (--depth_ > 0) {
        trace_.line("run", "the inner run ended: " + inner_.statusText());
        return;
    }
    if (!trace_.on()) {
        if (!setup_.wanted && state_ != nullptr && isFailure(inner_.statusText())) {
            inner_.setStatusNote(kTraceHint);
        }
        return;
    }
    line_.endDataLines();
    syncSecrets();
    trace_.release();
    trace_.line("result", "outcome: " + inner_.statusText());
    trace_.line("result", "last stage " + std::to_string(lastStage_) + ", retry count " +
                              std::to_string(state_->iRetryCount) + ", port " +
                              (line_.portOpen() ? "open" : "closed"));
    trace_.line("result", "driver's locations " + locationsOutcome());
    trace_.close("run ended after " + std::to_string(trace_.elapsedMs()) + " ms");
}

}  // namespace k9
