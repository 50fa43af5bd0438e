#pragma once

#include <QSerialPort>

#include "config/app_config.h"
#include "platform/serial_line.h"

namespace k9 {

// The serial line over QSerialPort. COM numbers become device paths through the port map.
class QtSerialLine final : public SerialLine {
  public:
    explicit QtSerialLine(std::map<int, std::string> portMap);
    ~QtSerialLine() override;

    void setCommPort(std::int16_t port) override { commPort_ = port; }
    std::int16_t commPort() const override { return commPort_; }
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return settings_; }
    void setInputLen(std::int16_t len) override { inputLen_ = len; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return port_.isOpen(); }
    std::string input() override;
    void output(std::string_view bytes) override;

  private:
    void open();
    void close();
    [[noreturn]] void raise(std::int32_t number, const std::string& what) const;
    void throwIfBroken() const;

    std::map<int, std::string> portMap_;
    QSerialPort port_;
    std::int16_t commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    std::int16_t inputLen_ = 0;
    bool broken_ = false;
};

}  // namespace k9
