#pragma once

#include <map>
#include <string>

#include "devices/port_identity.h"

namespace k9 {

// Denied: the port exists but this user may not open it; the list shows it in use, as a port
// held by another program, and the advice differs.
enum class ProbeResult { Free, InUse, Denied, Absent, Other };

// Opens a port exclusively for a moment to learn whether it can be used.
class PortProbe {
  public:
    virtual ~PortProbe() = default;
    virtual ProbeResult probe(int port) = 0;
    // What device the port number stands for. By default only its name is known, and the
    // probe decides whether it is there.
    virtual PortIdentity identify(int port) {
        PortIdentity id;
        id.device = "COM" + std::to_string(port);
        id.present = true;
        return id;
    }
    // Why the port cannot be opened, when the machine can tell; nothing known by default.
    virtual PortAccessReport access(int /*port*/) { return {}; }
};

// Probes through the same serial stack the updater opens ports with, so its locks (and
// anybody else's) count as in use.
class QtPortProbe final : public PortProbe {
  public:
    explicit QtPortProbe(std::map<int, std::string> portMap) : portMap_(std::move(portMap)) {}
    ProbeResult probe(int port) override;
    PortIdentity identify(int port) override;
    PortAccessReport access(int port) override;

  private:
    std::string path(int port) const;

    std::map<int, std::string> portMap_;
};

}  // namespace k9
