#pragma once

#include <signal.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "pseudo_terminal.h"
#include "sim_unit.h"

namespace k9 {

// Runs a simulated unit in real time behind a pseudo-terminal: sleeps in ppoll() until the
// updater writes, the slave end changes hands or the unit's next wake-up, and prints each
// protocol step as it happens.
class PtyRunner final {
  public:
    enum class End {
        kPeerClosed,  // the updater closed the port after the session was complete
        kLineCut,     // the unit's disconnect fault fired
        kTimedOut,
        kStopped,  // a signal asked us to stop
    };

    PtyRunner(SimUnit& unit, PseudoTerminal& pty, std::ostream& log);

    // timeoutMs < 0 waits without limit. Signals are taken only while waiting in ppoll() with
    // waitMask; the handler is expected to set stop.
    End run(std::int64_t timeoutMs, const volatile std::sig_atomic_t& stop,
            const sigset_t* waitMask);

  private:
    std::int64_t nowMs() const;
    bool wait(int fdEvents, std::int64_t timeoutMs, const sigset_t* waitMask, short& revents);
    bool readAll();
    bool writePending();
    void hangUp();
    void printLog();

    SimUnit& unit_;
    PseudoTerminal& pty_;
    std::ostream& log_;
    std::int64_t startNs_ = 0;
    bool connected_ = false;
    std::string pending_;
    std::size_t printed_ = 0;
};

}  // namespace k9
