#pragma once

#include <map>
#include <string>

namespace k9 {

enum class ProbeResult { Free, InUse, Absent, Other };

// Opens a port exclusively for a moment to learn whether it can be used.
class PortProbe {
  public:
    virtual ~PortProbe() = default;
    virtual ProbeResult probe(int port) = 0;
};

// Probes through the same serial stack the updater opens ports with, so its locks (and
// anybody else's) count as in use.
class QtPortProbe final : public PortProbe {
  public:
    explicit QtPortProbe(std::map<int, std::string> portMap) : portMap_(std::move(portMap)) {}
    ProbeResult probe(int port) override;

  private:
    std::map<int, std::string> portMap_;
};

}  // namespace k9
