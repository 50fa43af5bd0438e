#pragma once

#include <pty.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace k9::test {

// A pseudo-terminal whose slave path stands in for a serial device. Only the path is used:
// whoever opens it opens the slave afresh.
class PtyDevice {
  public:
    PtyDevice() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        path_ = name;
        ::close(slave_);
    }
    ~PtyDevice() { ::close(master_); }
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& path() const { return path_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace k9::test
