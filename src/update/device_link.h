#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace k9 {

struct MainContext;
class PortControl;

// Bytes the updater sends to the unit.
namespace line {
inline constexpr std::string_view kAcknowledgement = "\r\n0\r\n";
inline constexpr std::string_view kGetReply = "\r\n150\r\n";
inline constexpr std::string_view kEndOfData = "\x03\r\n";
inline constexpr std::string_view kDoneCode = "\r\n368\r\n";
}  // namespace line

// The receive buffer never holds more than this; stage 8 ends the run when it would.
inline constexpr std::size_t kMaxReceiveBuffer = 1 << 20;
// What is kept of a buffer full of noise.
inline constexpr std::size_t kKeptNoise = 64 * 1024;

// What a stage step asks of the wait loop.
enum class StepOutcome {
    Continue,  // go on with the pass
    EndOfRun,  // leave the loop for the end of the run
    Stopped,   // the run was stopped or has reported its failure: end at once
    Restart,   // the user asked to start the whole run again
};

// The serial conversation with the unit: reading the port, the handshake of stages 1 to 4,
// the keep-alive and the no-answer timeout.
class DeviceLink final {
  public:
    DeviceLink(MainContext& context, PortControl& port) : c_(context), port_(port) {}

    // Appends what the port received to the receive buffer and shows the stage.
    void pollPort();
    // Stages 1 to 4; other stages are not the link's.
    StepOutcome stageStep();
    void tmrCheck_Timer();

    bool noAnswer() const;
    void reportNoAnswer();

    // Each is one write, made only while the port is open.
    void send(std::string_view bytes);
    // Sets iRetryCount, shows it in Label11 unless told not to, and tells the observers.
    void setRetryCount(std::int16_t count, bool shown = true);

  private:
    StepOutcome waitForSerialNumber();
    StepOutcome waitForPassword();
    StepOutcome waitForFilePath();
    StepOutcome waitForGet();
    bool received(std::string_view keyword, bool needsCr) const;
    void completeStage(int next);
    void restartCheckTimer();
    void rearmCheckTimer();

    MainContext& c_;
    PortControl& port_;
};

// The unit's requests: the keyword anywhere in what was received and, where the request
// needs it, a CR anywhere as well.
bool receivedKeyword(std::string_view buffer, std::string_view keyword, bool needsCr);
// Cuts the serial number out of the receive buffer: up to 7 characters after the first
// "FTPUN", ending early at a line end, upper-cased. Empty when there is none.
std::string cutSerialNumber(const std::string& buffer);
// The FTP password of a unit: its serial number backwards.
std::string ftpPasswordFor(const std::string& serial);
// A serial number is 1 to 7 letters, digits, '-' or '_'.
bool isValidSerialNumber(const std::string& serial);

}  // namespace k9
