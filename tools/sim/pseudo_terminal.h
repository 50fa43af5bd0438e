#pragma once

#include <string>

namespace k9 {

// The master end of a pseudo-terminal whose slave end stands in for a serial device. We never
// hold the slave ourselves: the updater opens it like a port (exclusively, with its own line
// settings), and the master tells us whether anybody holds it.
class PseudoTerminal final {
  public:
    // Throws std::system_error when no pseudo-terminal can be had.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int masterFd() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Somebody holds the slave end open.
    bool peerPresent() const;
    // Drops what the last holder never read, as a real port loses what arrives while closed.
    void discardUnread();
    // Closing the master hangs up whoever holds the slave, like an unplugged adapter.
    void close();

  private:
    void touchSlave(bool flush);

    int master_ = -1;
    std::string slavePath_;
};

}  // namespace k9
