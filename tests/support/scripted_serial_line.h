#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/serial_line.h"
#include "platform/virtual_event_loop.h"

namespace k9::test {

// A serial line whose incoming bytes a test schedules on the virtual clock, recording every
// write with its time. Ports in `present` exist; ports in `held` belong to another program.
class ScriptedSerialLine final : public SerialLine {
  public:
    explicit ScriptedSerialLine(VirtualEventLoop& loop) : loop_(loop) {}

    void setCommPort(std::int16_t port) override { port_ = port; }
    std::int16_t commPort() const override { return port_; }
    void setSettings(const std::string& s) override { settings_ = s; }
    std::string settings() const override { return settings_; }
    void setInputLen(std::int16_t len) override { inputLen = len; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    std::string input() override;
    void output(std::string_view bytes) override;

    // Bytes that arrive at the given time after now.
    void arriveAfter(std::int64_t delayMs, std::string bytes);
    // Concatenation of all writes.
    std::string written() const;

    std::set<int> present{1, 2, 3};
    std::set<int> held;
    bool closeFails = false;
    std::int16_t inputLen = -1;
    int opens = 0;
    std::vector<std::pair<std::int64_t, std::string>> writes;
    // Called after each write, e.g. to answer like a unit would.
    std::function<void(const std::string&)> onWrite;

  private:
    VirtualEventLoop& loop_;
    std::int16_t port_ = 1;
    std::string settings_ = "9600,N,8,1";
    bool open_ = false;
    std::string pending_;
};

}  // namespace k9::test
