#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace k9 {

// The members of the serial control that the updater uses. Text on the line is single-byte,
// so data travels as raw bytes in std::string. Failures throw RuntimeError; opening a port
// that does not exist throws err::kInvalidPortNumber, anything else its own number.
class SerialLine {
  public:
    virtual ~SerialLine() = default;
    virtual void setCommPort(std::int16_t port) = 0;
    virtual std::int16_t commPort() const = 0;
    // "baud,parity,data,stop", e.g. "38400,N,8,1".
    virtual void setSettings(const std::string& settings) = 0;
    virtual std::string settings() const = 0;
    // 0 means a read returns everything received so far.
    virtual void setInputLen(std::int16_t len) = 0;
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // Everything received since the last read, without waiting.
    virtual std::string input() = 0;
    virtual void output(std::string_view bytes) = 0;
};

struct LineSettings {
    std::int32_t baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};

// The serial control's PortOpen rule: true when `wanted` asks for a change the caller must
// make; asking to open a port that is open throws "Port already open", closing a closed one
// does nothing.
bool portOpenChanges(bool wanted, bool isOpen, std::int16_t commPort);

// Parses "38400,N,8,1"; throws RuntimeError (err::kPortSettings) on anything else.
LineSettings parseLineSettings(const std::string& text);

}  // namespace k9
