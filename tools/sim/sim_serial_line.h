#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/serial_line.h"
#include "platform/virtual_event_loop.h"
#include "sim_unit.h"

namespace k9 {

// A serial line inside the test process with a simulated unit on one of its ports, on the
// virtual clock: what the unit sends becomes readable at the virtual time it is sent, and the
// line books a wake-up on the loop for each such time, so the updater's Delay stops right there.
class SimSerialLine final : public SerialLine {
  public:
    enum class Port {
        kAbsent,  // no such device: opening fails with err::kInvalidPortNumber
        kEmpty,   // a port with nothing plugged in: opens, never receives anything
        kUnit,    // the simulated unit is plugged in here
        kInUse,   // held by another program: opening fails with err::kPortNotAvailable
    };

    // The unit sits on unitPort; every other port is absent until set otherwise.
    SimSerialLine(VirtualEventLoop& loop, SimUnit& unit, std::int16_t unitPort = 1);
    ~SimSerialLine() override;
    SimSerialLine(const SimSerialLine&) = delete;
    SimSerialLine& operator=(const SimSerialLine&) = delete;

    // Changing the open port pulls its plug: reads and writes fail until the port is closed.
    // Putting the unit on a port takes it off the one it was on (that one becomes empty).
    void setPort(std::int16_t number, Port kind);

    void setCommPort(std::int16_t port) override { commPort_ = port; }
    std::int16_t commPort() const override { return commPort_; }
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return settings_; }
    void setInputLen(std::int16_t len) override { inputLen_ = len; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    std::string input() override;
    void output(std::string_view bytes) override;

    // The line failed (disconnect fault or pulled plug) and the port has not been closed since.
    bool broken() const { return broken_; }
    int opens() const { return opens_; }
    // The settings in force when the port was last opened.
    const std::string& settingsAtOpen() const { return settingsAtOpen_; }
    // Bytes the unit sent that the updater has not read yet.
    const std::string& pendingInput() const { return rx_; }

  private:
    Port kindOf(std::int16_t number) const;
    bool unitAttached() const { return open_ && kindOf(openPort_) == Port::kUnit; }
    void open();
    void close();
    void pump();
    void planWake();
    void breakLine();
    [[noreturn]] void raise(std::int32_t number, const std::string& what) const;

    VirtualEventLoop& loop_;
    SimUnit& unit_;
    std::map<std::int16_t, Port> ports_;
    std::int16_t commPort_ = 1;
    std::int16_t openPort_ = 0;
    std::string settings_ = "9600,N,8,1";
    std::string settingsAtOpen_;
    std::int16_t inputLen_ = 0;
    bool open_ = false;
    bool broken_ = false;
    int opens_ = 0;
    std::string rx_;
    std::int64_t plannedWakeMs_ = -1;
    // Wake-ups queued on the loop check this before touching the line.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace k9
