#include "sim_unit.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace k9 {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr char kEtx = '\x03';
constexpr std::string_view kAck = "0";
constexpr std::string_view kGetReply = "150";
constexpr std::string_view kDone = "368";
// Longest reply line worth keeping; anything longer cannot be a code.
constexpr std::size_t kMaxCodeLine = 16;
// A flood waits for the line once this much is unsent, as a unit with a full buffer would.
constexpr std::size_t kFloodBacklog = 64 * 1024;
constexpr std::size_t kLongestLogged = 160;
// A split keyword breaks inside the keyword itself ("#FTPU" + "N...").
constexpr std::size_t kSplitAt = 5;

int nextStage(int stage) {
    return stage == 7 ? 8 : stage + 1;
}

}  // namespace

std::string describeBytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes.substr(0, kLongestLogged)) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "<CR>";
        } else if (c == '\n') {
            out += "<LF>";
        } else if (c == kEtx) {
            out += "<ETX>";
        } else if (b >= 0x20 && b < 0x7f) {
            out += c;
        } else {
            out += "<x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
            out += '>';
        }
    }
    if (bytes.size() > kLongestLogged) {
        out += "... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return out;
}

SimUnit::SimUnit(SimOptions options) : options_(std::move(options)) {}

std::string SimUnit::sentSerial() const {
    std::string serial = options_.serial;
    switch (options_.serialFault) {
        case SerialFault::kNone:
            break;
        case SerialFault::kLowerCase:
            for (char& c : serial) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            break;
        case SerialFault::kShort:
            serial = serial.substr(0, 5);
            break;
        case SerialFault::kInvalidChars:
            serial.resize(std::max<std::size_t>(serial.size(), 6), '0');
            serial[3] = '/';
            serial[5] = '*';
            break;
    }
    return serial;
}

std::string SimUnit::message(int stage) const {
    switch (stage) {
        case 1:
            return "#FTPUN" + sentSerial() + std::string(kCrLf);
        case 2: {
            std::string reversed(options_.serial.rbegin(), options_.serial.rend());
            return "#FTPPW" + reversed + std::string(kCrLf);
        }
        case 3:
            return "#FTPFILEP/k9/update/\r\n";
        case 4:
            return "#FTPGET" + options_.serial + ".qk\r\n";
        case 7:
            return options_.answer == OfferAnswer::kNo ? "#FTPPUT#END\r\n" : "#FTPPUT\r\n";
        case 8:
            return options_.locations + kEtx + std::string(kCrLf);
        default:
            return {};
    }
}

// The code the unit waits for after its message of a stage; empty when it waits for none.
std::string SimUnit::replyTo(int stage) const {
    switch (stage) {
        case 1:
        case 2:
        case 3:
            return std::string(kAck);
        case 4:
            return std::string(kGetReply);
        case 7:
            return options_.answer == OfferAnswer::kYes ? std::string(kAck) : std::string();
        case 8:
            return options_.expectFinalDone ? std::string(kDone) : std::string();
        default:
            return {};
    }
}

void SimUnit::connect(std::int64_t nowMs) {
    lastMs_ = std::max(lastMs_, nowMs);
    ++sessions_;
    stage_ = 1;
    expected_.clear();
    nextPreSent_ = silent_ = completed_ = lineCut_ = dataStarted_ = false;
    line_.clear();
    out_.clear();
    heldBack_.clear();
    heldBackMs_ = -1;
    floodPos_ = 0;
    dataLines_.clear();
    note(nowMs, "port opened, session " + std::to_string(sessions_) + " starts");
    scheduleSend(1, nowMs, options_.startDelayMs);
}

void SimUnit::disconnect(std::int64_t nowMs) {
    if (phase_ == Phase::kOffline) {
        return;
    }
    note(nowMs, "port closed");
    phase_ = Phase::kOffline;
    dueMs_ = -1;
    heldBackMs_ = -1;
    heldBack_.clear();
    out_.clear();
    line_.clear();
}

std::size_t SimUnit::feed(std::string_view bytes, std::int64_t nowMs) {
    runDue(nowMs);
    std::size_t taken = 0;
    for (const char c : bytes) {
        if (phase_ == Phase::kOffline || lineCut_) {
            break;
        }
        if (phase_ == Phase::kReceiving && !dataStarted_) {
            dataStarted_ = true;
            if (!beginStage(6, nowMs)) {
                break;
            }
        }
        received_ += c;
        ++taken;
        takeByte(c, nowMs);
    }
    return taken;
}

std::string SimUnit::takeOutput(std::int64_t nowMs) {
    runDue(nowMs);
    return std::exchange(out_, {});
}

std::int64_t SimUnit::nextWakeMs() const {
    if (phase_ == Phase::kOffline) {
        return -1;
    }
    if (!out_.empty()) {
        return lastMs_;
    }
    if (heldBackMs_ >= 0 && (dueMs_ < 0 || heldBackMs_ < dueMs_)) {
        return heldBackMs_;
    }
    return dueMs_;
}

void SimUnit::runDue(std::int64_t nowMs) {
    lastMs_ = std::max(lastMs_, nowMs);
    while (phase_ != Phase::kOffline) {
        const bool restDue = heldBackMs_ >= 0 && heldBackMs_ <= nowMs;
        const bool actionDue = dueMs_ >= 0 && dueMs_ <= nowMs;
        if (restDue && (!actionDue || heldBackMs_ <= dueMs_)) {
            const std::int64_t at = std::exchange(heldBackMs_, -1);
            emit(std::exchange(heldBack_, {}), at, "sent the rest");
        } else if (actionDue) {
            act(dueMs_, nowMs);
        } else {
            break;
        }
    }
}

// Every branch moves dueMs_ on or clears it, so runDue always ends.
void SimUnit::act(std::int64_t atMs, std::int64_t nowMs) {
    switch (phase_) {
        case Phase::kSendDue:
            sendStage(atMs);
            break;
        case Phase::kAwaitReply:
            emit(message(stage_), atMs, "no reply, sent again");
            dueMs_ = atMs + options_.retryMs;
            break;
        case Phase::kFlooding:
            flood(nowMs);
            break;
        default:
            dueMs_ = -1;
            break;
    }
}

// The point where a stage begins: a scripted silence or disconnect takes effect here. Returns
// false when the line was cut.
bool SimUnit::beginStage(int stage, std::int64_t atMs) {
    stage_ = stage;
    if (fires(options_.disconnectAtStage, stage, fired_.disconnect)) {
        cut(atMs, "line cut at stage " + std::to_string(stage));
        return false;
    }
    if (options_.silentFromStage == stage && !silent_) {
        silent_ = true;
        completed_ = true;
        note(atMs, "silent from here on");
    }
    return true;
}

void SimUnit::scheduleSend(int stage, std::int64_t fromMs, std::int64_t delayMs) {
    stage_ = stage;
    phase_ = Phase::kSendDue;
    dueMs_ = fromMs + delayMs;
    if (fires(options_.lateKeywordStage, stage, fired_.late)) {
        dueMs_ += options_.lateByMs;
        note(fromMs, "will answer " + std::to_string(options_.lateByMs) + " ms late");
    }
}

void SimUnit::sendStage(std::int64_t atMs) {
    if (!beginStage(stage_, atMs)) {
        return;
    }
    if (silent_) {
        goIdle();
        return;
    }
    if (stage_ == 8) {
        sendLocations(atMs);
    } else if (stage_ == 7 && options_.answer == OfferAnswer::kNever) {
        finish(atMs, "offer left unanswered");
    } else {
        sendKeyword(atMs);
    }
}

void SimUnit::sendKeyword(std::int64_t atMs) {
    const std::string text = message(stage_);
    std::string wire = text;
    std::string what = "sent";
    if (fires(options_.noCrStage, stage_, fired_.noCr)) {
        wire = text.substr(0, text.size() - kCrLf.size()) + "\n";
        what += " without CR";
    }
    if (fires(options_.garbageBeforeStage, stage_, fired_.garbageBefore)) {
        wire = options_.garbage + wire;
        what += " after noise";
    }
    if (fires(options_.garbageInsteadStage, stage_, fired_.garbageInstead)) {
        wire = options_.garbage;
        what = "sent noise instead of the keyword";
    }
    if (fires(options_.dropKeywordStage, stage_, fired_.drop)) {
        note(atMs, "lost on the line \"" + describeBytes(wire) + "\"");
        wire.clear();
        what = "sent";
    }
    const int next = nextStage(stage_);
    const bool canMerge = next != 5 && !replyTo(stage_).empty() && (next != 8 || !options_.flood);
    if (canMerge && fires(options_.mergedKeywordStage, next, fired_.merged)) {
        wire += message(next);
        nextPreSent_ = true;
        what += " with the next message in the same write";
    }
    if (fires(options_.splitKeywordStage, stage_, fired_.split) && wire.size() > kSplitAt) {
        heldBack_ = wire.substr(kSplitAt);
        heldBackMs_ = atMs + options_.splitGapMs;
        wire.resize(kSplitAt);
        what = "sent the first part of";
    }
    if (!wire.empty()) {
        emit(wire, atMs, what);
    }
    awaitReply(atMs);
}

void SimUnit::sendLocations(std::int64_t atMs) {
    if (options_.flood) {
        completed_ = true;
        note(atMs, "sending location text without end");
        phase_ = Phase::kFlooding;
        dueMs_ = atMs;
        return;
    }
    emit(message(8), atMs, "sent stored locations");
    awaitReply(atMs);
}

void SimUnit::awaitReply(std::int64_t atMs) {
    expected_ = replyTo(stage_);
    if (expected_.empty()) {
        finish(atMs, "session complete");
        return;
    }
    phase_ = Phase::kAwaitReply;
    const bool repeats = stage_ <= 4 && options_.retryMs > 0;
    dueMs_ = repeats ? atMs + options_.retryMs : -1;
}

void SimUnit::flood(std::int64_t nowMs) {
    static constexpr std::string_view kFallback = "51.50722,-0.12750,30,USER\r\n";
    std::string pattern = options_.locations;
    pattern.erase(std::remove(pattern.begin(), pattern.end(), kEtx), pattern.end());
    if (pattern.empty()) {
        pattern = kFallback;
    }
    const std::int64_t interval = std::max<std::int64_t>(1, options_.floodIntervalMs);
    const std::int64_t chunks = (nowMs - dueMs_) / interval + 1;
    for (std::int64_t i = 0; i < chunks && out_.size() < kFloodBacklog; ++i) {
        for (std::size_t n = 0; n < options_.floodChunkBytes; ++n) {
            out_ += pattern[floodPos_++ % pattern.size()];
        }
    }
    dueMs_ += chunks * interval;
}

void SimUnit::takeByte(char c, std::int64_t nowMs) {
    line_ += c;
    if (phase_ == Phase::kReceiving) {
        // A data line ends at CR LF only: a lone LF belongs to the line's text.
        if (line_.size() >= 2 && line_.compare(line_.size() - 2, 2, kCrLf) == 0) {
            line_.resize(line_.size() - 2);
            onDataLine(std::exchange(line_, {}), nowMs);
        }
        return;
    }
    if (c == '\n') {
        std::string code = std::exchange(line_, {});
        code.pop_back();
        if (!code.empty() && code.back() == '\r') {
            code.pop_back();
        }
        if (!code.empty()) {
            onCode(code, nowMs);
        }
    } else if (line_.size() > kMaxCodeLine) {
        line_.erase(0, line_.size() - kMaxCodeLine);
    }
}

void SimUnit::onCode(const std::string& code, std::int64_t nowMs) {
    const bool awaited =
        (phase_ == Phase::kAwaitReply || phase_ == Phase::kAwaitDone) && code == expected_;
    if (!awaited) {
        note(nowMs, "ignored \"" + describeBytes(code) + "\"");
        return;
    }
    note(nowMs, "received \"" + code + "\"");
    onReply(nowMs);
}

void SimUnit::onReply(std::int64_t nowMs) {
    if (phase_ == Phase::kAwaitDone) {
        note(nowMs, "saving for " + std::to_string(options_.saveMs) + " ms");
        scheduleSend(7, nowMs, options_.saveMs);
        return;
    }
    if (stage_ == 4) {
        if (!beginStage(5, nowMs)) {
            return;
        }
        phase_ = Phase::kReceiving;
        dueMs_ = -1;
        return;
    }
    if (stage_ == 8) {
        finish(nowMs, "session complete");
        return;
    }
    if (nextPreSent_) {
        // The next message already went out with this one; now it waits for its own reply.
        nextPreSent_ = false;
        stage_ = nextStage(stage_);
        awaitReply(nowMs);
        return;
    }
    scheduleSend(nextStage(stage_), nowMs, options_.replyDelayMs);
}

void SimUnit::onDataLine(std::string text, std::int64_t nowMs) {
    if (text.size() == 1 && text[0] == kEtx) {
        note(nowMs, "end of data after " + std::to_string(dataLines_.size()) + " lines");
        phase_ = Phase::kAwaitDone;
        expected_ = kDone;
        return;
    }
    dataLines_.push_back(std::move(text));
    if (dataLines_.size() == 1) {
        note(nowMs, "receiving data lines");
    }
    if (options_.disconnectAfterLines > 0 &&
        dataLines_.size() == static_cast<std::size_t>(options_.disconnectAfterLines) &&
        !fired_.disconnectAfterLines) {
        fired_.disconnectAfterLines = true;
        cut(nowMs, "line cut after " + std::to_string(dataLines_.size()) + " data lines");
    }
}

void SimUnit::cut(std::int64_t atMs, const std::string& why) {
    note(atMs, why);
    lineCut_ = true;
    completed_ = true;
    out_.clear();
    heldBack_.clear();
    heldBackMs_ = -1;
    goIdle();
}

void SimUnit::finish(std::int64_t atMs, const std::string& why) {
    note(atMs, why);
    completed_ = true;
    goIdle();
}

void SimUnit::goIdle() {
    phase_ = Phase::kIdle;
    dueMs_ = -1;
}

void SimUnit::emit(const std::string& bytes, std::int64_t atMs, const std::string& what) {
    out_ += bytes;
    note(atMs, what + " \"" + describeBytes(bytes) + "\"");
}

void SimUnit::note(std::int64_t atMs, const std::string& text) {
    log_.push_back(std::to_string(atMs) + " ms [stage " + std::to_string(stage_) + "] " + text);
}

// True the first time a one-shot fault configured for this stage comes up.
bool SimUnit::fires(int faultStage, int stage, bool& fired) {
    if (fired || faultStage == 0 || faultStage != stage) {
        return false;
    }
    fired = true;
    return true;
}

}  // namespace k9
