#include "update/run_trace.h"

#include <cstdio>
#include <exception>

#include "platform/event_loop.h"
#include "update/device_link.h"
#include "update/run_outcome.h"

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

const char* stageMeaning(Stage stage) {
    switch (stage) {
        case Stage::WaitSerial:
            return "waiting for #FTPUN and the serial number";
        case Stage::WaitPassword:
            return "waiting for #FTPPW";
        case Stage::WaitFilePath:
            return "waiting for #FTPFILEP";
        case Stage::WaitGet:
            return "waiting for #FTPGET";
        case Stage::Download:
            return "connecting to the server and downloading the file";
        case Stage::SendFile:
            return "sending the file to the unit";
        case Stage::WaitOffer:
            return "waiting for the answer to the locations offer";
        case Stage::ReceiveLocations:
            return "receiving the driver's locations";
        case Stage::Finished:
            break;
    }
    return "finished";
}

const char* locationsSentence(const RunRecord& r) {
    switch (r.locations) {
        case LocationsFate::Uploaded:
            return "uploaded to the server";
        case LocationsFate::Kept:
            return "kept in the working folder";
        case LocationsFate::Declined:
            return "not sent: the unit had none to send";
        case LocationsFate::Unanswered:
            return "not collected: the unit did not answer the offer";
        case LocationsFate::NotReceived:
        case LocationsFate::NotOffered:
            break;
    }
    return "not received: they stay on the unit";
}

bool failed(RunEnd end) {
    return end != RunEnd::Updated && end != RunEnd::Stopped && end != RunEnd::None;
}

}  // namespace

// --- the serial line

void TracingSerialLine::setCommPort(std::int16_t port) {
    inner_.setCommPort(port);
    if (trace_.trace().on()) {
        const std::string device = trace_.devicePath(port);
        trace_.note("port", "COM" + std::to_string(port) + " is " +
                                (device.empty() ? "not in the port map" : device));
    }
}

void TracingSerialLine::setSettings(const std::string& settings) {
    inner_.setSettings(settings);
    trace_.note("port", "line settings " + settings + ", no flow control");
}

void TracingSerialLine::setPortOpen(bool open) {
    try {
        inner_.setPortOpen(open);
    } catch (const std::exception& e) {
        trace_.note("port", std::string(open ? "open failed: " : "close failed: ") + e.what());
        throw;
    }
    trace_.note("port", open ? "opened" : "closed");
}

std::string TracingSerialLine::input() {
    try {
        std::string chunk = inner_.input();
        if (!chunk.empty()) {
            trace_.note("rx", chunk);
        }
        return chunk;
    } catch (const std::exception& e) {
        trace_.note("rx", std::string("read failed: ") + e.what());
        throw;
    }
}

void TracingSerialLine::output(std::string_view bytes) {
    SupportTrace& trace = trace_.trace();
    if (!trace.on()) {
        inner_.output(bytes);
        return;
    }
    const bool data = trace_.stage() == Stage::SendFile && bytes != line::kEndOfData &&
                      bytes != line::kDoneCode && bytes != line::kAcknowledgement;
    if (data) {
        dataLine(bytes);
        return;
    }
    endDataLines();
    try {
        inner_.output(bytes);
    } catch (const std::exception& e) {
        trace.line("tx", std::string("write failed: ") + e.what() + ": " + std::string(bytes));
        throw;
    }
    trace.line("tx", bytes);
}

void TracingSerialLine::dataLine(std::string_view bytes) {
    SupportTrace& trace = trace_.trace();
    if (dataLines_ == 0) {
        trace.line("data", ++dataBlocks_ == 1 ? "sending the file"
                                              : "sending the file again from its first line");
    }
    const std::int32_t number = dataLines_ + 1;
    try {
        inner_.output(bytes);
    } catch (const std::exception& e) {
        endDataLines();
        trace.line("data", "line " + std::to_string(number) + " failed (" + e.what() +
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
    SupportTrace& trace = trace_.trace();
    for (const auto& [number, text] : lastLines_) {
        trace.line("data", "line " + std::to_string(number) + ": " + text);
    }
    trace.line("data", std::to_string(dataLines_) + " data lines sent");
    dataLines_ = 0;
    lastLines_.clear();
}

// --- the run

RunTrace::RunTrace(EventLoop& loop, SerialLine& serial, MainView& view, AppConfig config)
    : loop_(loop), view_(view), config_(std::move(config)), line_(serial, *this) {
    setup_.wanted = config_.trace || traceRequestedByEnvironment();
}

void RunTrace::runStarted(const RunStart& start) {
    if (depth_++ > 0) {
        // A click during the yields of a stopped run: its run goes into the same file.
        trace_.line("run", "update started again while the stopped run unwinds");
        return;
    }
    view_.setStatusNote({});
    stage_ = Stage::WaitSerial;
    retryCount_ = 0;
    lastStatus_.clear();
    if (!setup_.wanted) {
        return;
    }
    std::string error;
    EventLoop* loop = &loop_;
    if (!trace_.open(
            setup_.folder, setup_.version, [loop] { return loop->tickMs(); }, &error)) {
        std::fprintf(stderr, "k9updater: no support trace for this run: %s\n", error.c_str());
        return;
    }
    trace_.line("run", "update started on COM" + std::to_string(start.port) + ", server " +
                           start.server + ", download list entry " + std::to_string(start.edition) +
                           " (" + start.remoteFile + ")");
    trace_.line("run", "working folder " + start.workFolder);
}

void RunTrace::runRestarted() {
    line_.endDataLines();
    trace_.line("run", "the whole run starts again from the port");
}

void RunTrace::stageEntered(Stage stage) {
    stage_ = stage;
    if (!trace_.on()) {
        return;
    }
    line_.endDataLines();
    trace_.release();
    trace_.line("stage", std::to_string(static_cast<int>(stage)) + ": " + stageMeaning(stage));
    trace_.flush();
    // Until the serial number is known, what the unit sends may hold part of it.
    if (stage == Stage::WaitSerial) {
        trace_.hold();
    }
}

void RunTrace::checkTick(std::int16_t retryCount) {
    retryCount_ = retryCount;
    trace_.line("retry", (retryCount == 0 ? "tmrCheck restarted, retry count "
                                          : "tmrCheck tick, retry count ") +
                             std::to_string(retryCount));
}

void RunTrace::serialNumberReceived(const std::string& serial) {
    // Very short numbers are hidden whole: two characters of three would give most away.
    trace_.addSecret(serial, serial.size() > 3 ? 2 : 0);
    // The FTP password is the serial number backwards.
    trace_.addSecret(std::string(serial.rbegin(), serial.rend()), 0);
    if (trace_.on() && unitNotes_) {
        for (const std::string& line : unitNotes_(serial)) {
            trace_.line("unit", line);
        }
    }
}

void RunTrace::offerWait(std::int64_t waitMs) {
    trace_.line("run", "waiting up to " + std::to_string(waitMs / 1000) +
                           " s for the answer to the locations offer");
}

void RunTrace::statusShown(const std::string& text) {
    if (text != lastStatus_) {
        trace_.line("status", text, kLongLineBytes);
    }
    lastStatus_ = text;
}

void RunTrace::messageShown(const Message& message, MessageAnswer answer) {
    trace_.line("msgbox", "[" + message.title + "] " + message.text, kLongLineBytes);
    trace_.line("answer", answerWord(answer));
    trace_.flush();
}

void RunTrace::runEnded(const RunRecord& record) {
    if (--depth_ > 0) {
        trace_.line("run", "the inner run ended: " + outcomeText(record));
        return;
    }
    if (!trace_.on()) {
        if (!setup_.wanted && failed(record.end)) {
            view_.setStatusNote(kTraceHint);
        }
        return;
    }
    line_.endDataLines();
    trace_.release();
    trace_.line("result", "outcome: " + lastStatus_);
    trace_.line("result", "run: " + outcomeText(record));
    trace_.line("result", "last stage " + std::to_string(static_cast<int>(record.lastStage)) +
                              ", retry count " + std::to_string(retryCount_) + ", port " +
                              (line_.portOpen() ? "open" : "closed"));
    trace_.line("result", std::string("driver's locations ") + locationsSentence(record));
    trace_.close("run ended after " + std::to_string(trace_.elapsedMs()) + " ms");
}

}  // namespace k9
