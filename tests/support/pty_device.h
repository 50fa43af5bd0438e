#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "pseudo_terminal.h"

namespace k9::test {

// The simulator's pseudo-terminal with the test itself playing the unit at the master end.
class PtyDevice {
  public:
    const std::string& slavePath() const { return pty_.slavePath(); }
    void close() { pty_.close(); }
    void send(const std::string& bytes) {
        ASSERT_EQ(::write(pty_.masterFd(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // What arrived within about two seconds, up to `want` bytes.
    std::string receive(std::size_t want) {
        std::string got;
        pollfd p{pty_.masterFd(), POLLIN, 0};
        char buf[256];
        for (int i = 0; i < 200 && got.size() < want; ++i) {
            const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(pty_.masterFd(), buf, sizeof buf) : 0;
            got.append(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        }
        return got;
    }

  private:
    PseudoTerminal pty_;
};

}  // namespace k9::test
