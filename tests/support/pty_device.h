#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace k9::test {

// A pseudo-terminal standing in for a serial device: whoever opens the slave's path opens it
// afresh, as the only holder, like a real port; the master end plays the unit.
class PtyDevice {
  public:
    PtyDevice() {
        char name[256] = {};
        termios raw{};
        ::cfmakeraw(&raw);
        int slave = -1;
        if (::openpty(&master_, &slave, name, &raw, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        ::close(slave);
        path_ = name;
    }
    ~PtyDevice() { closeMaster(); }
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& path() const { return path_; }

    // The unit's end goes away, as when the adapter is pulled out.
    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What arrived within about two seconds, up to `want` bytes.
    std::string receive(std::size_t want) {
        std::string got;
        pollfd p{master_, POLLIN, 0};
        char buf[256];
        for (int i = 0; i < 200 && got.size() < want; ++i) {
            const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(master_, buf, sizeof buf) : 0;
            got.append(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string path_;
};

}  // namespace k9::test
