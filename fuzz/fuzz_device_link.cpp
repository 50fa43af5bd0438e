// The unit's side of the line as a fuzzed byte stream, cut into reads where the input says,
// through the real stage steps of a run on a virtual clock: recognition of the keywords, the
// serial number cut, the answer to the locations offer and the reception of the locations.
//
// Input layout: the stream comes from the front, the read lengths from the back (one byte
// each). An input whose last byte is 0xFF floods: that byte only sets the mode, and then a
// length byte of 0xFF makes a flooding read, 64 KiB to 17 x 64 KiB (a byte from the back says
// how many) of the next piece (its length from the back too) repeated. Floods are costly, so
// most inputs do without.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "config/app_config.h"
#include "fuzz_check.h"
#include "platform/serial_line.h"
#include "platform/virtual_event_loop.h"
#include "ports/busy_indicators.h"
#include "recording_view.h"
#include "transfer/server_operations.h"
#include "update/device_link.h"
#include "update/location_upload.h"
#include "update/main_controller.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kFloodMark = 0xFF;
constexpr std::size_t kFloodUnit = std::size_t{64} << 10;
constexpr int kMaxFloodUnits = 17;  // one flood alone can pass the receive buffer's cap
// Later marks read 255 bytes, which keeps every input cheap.
constexpr int kMaxFloods = 4;
// Passes of the wait loop once the stream is used up: every stage must end on its own by then
// (the longest is stage 7's wait for the answer, 16 ticks of 15 s).
constexpr int kPassesAfterEnd = 200;

fs::path gWorkDir;
// K9_FUZZ_TRACE=1 prints each pass, to follow an input by hand.
bool gTrace = false;

// A port whose reads return the next piece of the fuzzed stream.
class FuzzedSerialLine final : public k9::SerialLine {
  public:
    FuzzedSerialLine(FuzzedDataProvider& data, bool floods)
        : data_(data), floodsLeft_(floods ? kMaxFloods : 0) {}

    void setCommPort(std::int16_t port) override { port_ = port; }
    std::int16_t commPort() const override { return port_; }
    void setSettings(const std::string& settings) override { settings_ = settings; }
    std::string settings() const override { return settings_; }
    void setInputLen(std::int16_t) override {}
    void setPortOpen(bool open) override { open_ = open; }
    bool portOpen() const override { return open_; }

    std::string input() override {
        K9_FUZZ_CHECK(open_, "the run reads a closed port");
        lastRead_ = 0;
        if (data_.remaining_bytes() == 0) {
            return {};
        }
        const auto length = data_.ConsumeIntegral<std::uint8_t>();
        if (length != kFloodMark || floodsLeft_ == 0) {
            std::string read = data_.ConsumeBytesAsString(length);
            lastRead_ = read.size();
            return read;
        }
        const std::size_t bytes = kFloodUnit * data_.ConsumeIntegralInRange(1, kMaxFloodUnits);
        std::string piece = data_.ConsumeBytesAsString(data_.ConsumeIntegralInRange(1, 64));
        if (piece.empty()) {
            piece = "x";
        }
        --floodsLeft_;
        std::string flood = std::move(piece);
        flood.reserve(2 * bytes);
        while (flood.size() < bytes) {
            flood += flood;
        }
        flood.resize(bytes);
        lastRead_ = bytes;
        return flood;
    }

    void output(std::string_view bytes) override {
        K9_FUZZ_CHECK(open_, "the run writes to a closed port");
        namespace line = k9::line;
        K9_FUZZ_CHECK(bytes == line::kAcknowledgement || bytes == line::kGetReply ||
                          bytes == line::kEndOfData || bytes == line::kDoneCode,
                      "the run sends something other than its fixed answers");
        last_.assign(bytes);
    }

    bool usedUp() const { return data_.remaining_bytes() == 0; }
    // Bytes the last read returned.
    std::size_t lastRead() const { return lastRead_; }
    const std::string& lastWrite() const { return last_; }

  private:
    FuzzedDataProvider& data_;
    std::int16_t port_ = 1;
    std::string settings_ = "38400,N,8,1";
    bool open_ = false;
    int floodsLeft_ = 0;
    std::size_t lastRead_ = 0;
    std::string last_;
};

// What a serial number must be, written out independently of the code under test.
bool validSerial(std::string_view s) {
    if (s.empty() || s.size() > 7) {
        return false;
    }
    for (const char ch : s) {
        const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                        (ch >= '0' && ch <= '9') || ch == '-' || ch == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

// Up to 7 characters after the first "FTPUN", ending at a line end, upper-cased.
std::string expectedSerial(std::string_view buffer) {
    const auto p = buffer.find("FTPUN");
    if (p == std::string_view::npos) {
        return {};
    }
    std::string serial;
    for (std::size_t i = p + 5; i < buffer.size() && serial.size() < 7; ++i) {
        char ch = buffer[i];
        if (ch == '\r' || ch == '\n') {
            break;
        }
        if (ch >= 'a' && ch <= 'z') {
            ch = static_cast<char>(ch - 'a' + 'A');
        }
        serial += ch;
    }
    return serial;
}

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The text before the first ETX that is followed by CR or LF, exactly as received.
bool expectedLocations(std::string_view buffer, std::string& locations) {
    for (std::size_t i = 0; i + 1 < buffer.size(); ++i) {
        if (buffer[i] == '\x03' && (buffer[i + 1] == '\r' || buffer[i + 1] == '\n')) {
            locations.assign(buffer.substr(0, i));
            return true;
        }
    }
    return false;
}

// The free functions alone, on the whole input as one buffer.
void checkFreeFunctions(const std::string& buffer) {
    const std::string serial = k9::cutSerialNumber(buffer);
    K9_FUZZ_CHECK(serial == expectedSerial(buffer), "serial number cut");
    K9_FUZZ_CHECK(k9::isValidSerialNumber(serial) == validSerial(serial), "serial number check");
    const std::string head = buffer.substr(0, 9);
    K9_FUZZ_CHECK(k9::isValidSerialNumber(head) == validSerial(head), "serial number check");

    std::string got;
    std::string want;
    const bool found = k9::extractLocations(buffer, got);
    K9_FUZZ_CHECK(found == expectedLocations(buffer, want), "end of the locations");
    K9_FUZZ_CHECK(!found || got == want, "the locations");
}

// What the stage step of one pass could see in the buffer, worked out independently. Only the
// facts are kept: the buffer can be a megabyte.
struct Seen {
    std::size_t size = 0;
    bool keywordLine = false;  // the stage's keyword, and a CR where the stage wants one
    std::string serial;        // stage 1: what the cut must give
    bool answered = false;     // stage 7
    bool declined = false;     // stage 7: "T#END"
    bool ended = false;        // stage 8: the end of the locations arrived
    std::string locations;     // stage 8: the text before that end
};

Seen look(const std::string& buffer, int stage) {
    Seen seen;
    seen.size = buffer.size();
    const bool cr = contains(buffer, "\r");
    switch (stage) {
        case 1:
            seen.keywordLine = contains(buffer, "#FTPUN") && cr;
            seen.serial = expectedSerial(buffer);
            break;
        case 2:
            seen.keywordLine = contains(buffer, "#FTPPW");
            break;
        case 3:
            seen.keywordLine = contains(buffer, "#FTPFILEP") && cr;
            break;
        case 4:
            seen.keywordLine = contains(buffer, "#FTPGET") && cr;
            break;
        case 7:
            seen.answered = (contains(buffer, "#FTPPUT") && cr) || contains(buffer, "#END");
            seen.declined = contains(buffer, "T#END");
            break;
        case 8:
            seen.ended = expectedLocations(buffer, seen.locations);
            break;
        default:
            break;
    }
    return seen;
}

bool allowedStep(int from, int to) {
    if (from == to) {
        return true;
    }
    switch (from) {
        case 1:
        case 2:
        case 3:
        case 4:
            return to == from + 1;
        case 5:
            return to == 7;  // the download and the sending are skipped here
        case 7:
            return to == 8 || to == 9;
        case 8:
            return to == 9;
        default:
            return false;
    }
}

// Checks what one completed step made of the buffer it saw.
void checkStep(const k9::MainContext& c, int from, const Seen& seen, const FuzzedSerialLine& port,
               bool& serialTaken) {
    const k9::UpdateState& s = c.state;
    const int to = s.iStage;
    K9_FUZZ_CHECK(allowedStep(from, to), "the stage moves only forward, in order");
    if (from == 1 && to == 1) {
        K9_FUZZ_CHECK(!seen.keywordLine, "a complete serial number line is not missed");
    }
    if (from == 1 && to == 2) {
        K9_FUZZ_CHECK(seen.keywordLine, "stage 1 keyword");
        K9_FUZZ_CHECK(validSerial(s.sSerialNumber), "only a valid serial number is accepted");
        K9_FUZZ_CHECK(s.sSerialNumber == seen.serial, "the serial number cut");
        K9_FUZZ_CHECK(
            s.sFtpPassword == std::string(s.sSerialNumber.rbegin(), s.sSerialNumber.rend()),
            "the password is the serial number reversed");
        K9_FUZZ_CHECK(port.lastWrite() == k9::line::kAcknowledgement, "stage 1 answer");
        serialTaken = true;
    }
    if (from == 2 && to == 3) {
        K9_FUZZ_CHECK(seen.keywordLine, "stage 2 keyword");
    }
    if (from == 3 && to == 4) {
        K9_FUZZ_CHECK(seen.keywordLine, "stage 3 keyword");
    }
    if (from == 4 && to == 5) {
        K9_FUZZ_CHECK(seen.keywordLine, "stage 4 keyword");
        K9_FUZZ_CHECK(port.lastWrite() == k9::line::kGetReply, "stage 4 answer");
    }
    if (from == 7 && to != 7) {
        K9_FUZZ_CHECK(seen.answered, "stage 7 answer");
        K9_FUZZ_CHECK((to == 9) == seen.declined, "T#END ends the run");
    }
    if (from == 8 && to == 9) {
        K9_FUZZ_CHECK(seen.ended, "stage 8 end of data");
        K9_FUZZ_CHECK(s.sNewLocations == seen.locations, "the received locations");
        K9_FUZZ_CHECK(s.sNewLocations.find("\x03\r") == std::string::npos &&
                          s.sNewLocations.find("\x03\n") == std::string::npos,
                      "received locations end at the first end of data");
        const fs::path saved = gWorkDir / (s.sSerialNumber + ".txt");
        if (s.sNewLocations.size() > 12) {
            // No server here, so the upload failed: the driver's locations must stay on disk.
            std::ifstream in(saved, std::ios::binary);
            const std::string kept{std::istreambuf_iterator<char>(in), {}};
            K9_FUZZ_CHECK(kept == s.sNewLocations + "\r\n", "locations kept after a failed upload");
            K9_FUZZ_CHECK(port.lastWrite() == k9::line::kDoneCode, "stage 8 done code");
        } else {
            K9_FUZZ_CHECK(!fs::exists(saved), "short locations are not saved");
        }
        std::error_code ignored;
        fs::remove(saved, ignored);
    }
    if (to != from && from != 5) {
        K9_FUZZ_CHECK(s.sRxBuffer.empty(), "a completed stage empties the buffer");
    }
}

// The wait loop of a run, stage by stage, with the real parts of the controller. The run's FTP
// client stays null, so nothing here touches the network.
void driveRun(FuzzedDataProvider& data, bool floods) {
    k9::VirtualEventLoop loop;
    k9::test::RecordingView view;
    FuzzedSerialLine port(data, floods);
    k9::MainController controller(loop, view, port, k9::AppConfig{}, {});
    k9::MainContext& c = controller.context();
    c.vars.sTempFolder = gWorkDir.string() + "/";
    k9::DeviceLink& link = controller.link();
    k9::LocationUpload upload(c, link, controller.server(), controller.portControl());

    port.setPortOpen(true);
    c.state.iStage = 1;
    c.timers.tmrDots->setEnabled(true);

    bool serialTaken = false;
    int passesLeft = kPassesAfterEnd;
    Seen seen;
    int seenStage = 0;
    for (;;) {
        loop.yield();
        if (c.state.blnStopped) {
            break;
        }
        link.pollPort();
        const int from = c.state.iStage;
        // An empty read in the same stage leaves the buffer as it was at the last look.
        if (port.lastRead() != 0 || from != seenStage || c.state.sRxBuffer.size() != seen.size) {
            seen = look(c.state.sRxBuffer, from);
            seenStage = from;
        }
        k9::StepOutcome outcome = k9::StepOutcome::Continue;
        switch (from) {
            case 5:
                // As if the file had been downloaded and sent: the end of sending.
                c.state.iStage = 7;
                link.send(k9::line::kEndOfData);
                link.send(k9::line::kDoneCode);
                c.state.iUploadTicks = 0;
                c.timers.tmrUserUpload->setEnabled(true);
                break;
            case 7:
                outcome = upload.waitForAnswer();
                break;
            case 8:
                outcome = upload.receiveLocations();
                break;
            default:
                outcome = link.stageStep();
                break;
        }
        if (outcome != k9::StepOutcome::Continue) {
            K9_FUZZ_CHECK(outcome == k9::StepOutcome::Stopped, "a stage step ends the run");
            if (gTrace) {
                std::fprintf(stderr, "stage %d: run stopped: %s\n", from, view.status.c_str());
            }
            // Stopped runs are back to idle with the port closed.
            K9_FUZZ_CHECK(!port.portOpen(), "a failed run closes the port");
            if (from == 1) {
                K9_FUZZ_CHECK(!validSerial(seen.serial), "a valid serial is refused");
            }
            break;
        }
        if (gTrace) {
            std::fprintf(stderr, "stage %d -> %d, buffer %zu bytes, serial \"%s\"\n", from,
                         static_cast<int>(c.state.iStage), seen.size,
                         c.state.sSerialNumber.c_str());
        }
        checkStep(c, from, seen, port, serialTaken);
        K9_FUZZ_CHECK(serialTaken == (c.state.iStage >= 2), "a serial number before stage 2");
        K9_FUZZ_CHECK(c.state.sRxBuffer.size() <= k9::kMaxReceiveBuffer,
                      "the receive buffer stays bounded");
        if (link.noAnswer()) {
            if (gTrace) {
                std::fprintf(stderr, "stage %d: no answer\n", static_cast<int>(c.state.iStage));
            }
            K9_FUZZ_CHECK(c.state.iStage <= 4, "no time-out once the file was asked for");
            link.reportNoAnswer();
            break;
        }
        const int beforePause = c.state.iStage;
        k9::Delay(loop, 2000);
        K9_FUZZ_CHECK(c.state.iStage == beforePause || (beforePause == 7 && c.state.iStage == 9),
                      "only the upload wait moves the stage between passes");
        if (c.state.iStage == 9) {
            break;
        }
        if (port.usedUp()) {
            K9_FUZZ_CHECK(--passesLeft > 0, "a silent unit ends the run");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "k9-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    gWorkDir = pattern;
    gTrace = std::getenv("K9_FUZZ_TRACE") != nullptr;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(gWorkDir, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    checkFreeFunctions(std::string(reinterpret_cast<const char*>(bytes), size));
    const bool floods = size > 0 && bytes[size - 1] == kFloodMark;
    FuzzedDataProvider data(bytes, floods ? size - 1 : size);
    driveRun(data, floods);
    return 0;
}
