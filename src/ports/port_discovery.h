#pragma once

#include <string>
#include <utility>

namespace k9 {

class MainView;
class PortProbe;

// Builds the port list cboPort: with "Filter Com Ports" checked, ports 1 to 12 are probed and
// listed as free (" 3") or held by another program ("3 - In Use"); unchecked, the plain list
// " 1" to " 12".
class PortDiscovery final {
  public:
    PortDiscovery(MainView& view, PortProbe& probe, std::string deviceName)
        : view_(view), probe_(probe), deviceName_(std::move(deviceName)) {}

    // Inverts the check mark and rebuilds the list for the new state.
    void mnuMainFilter_Click();

  private:
    void probePorts();
    void listAllPorts();

    MainView& view_;
    PortProbe& probe_;
    std::string deviceName_;
};

inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 12;
inline constexpr int kComPortCount = kLastComPort - kFirstComPort + 1;

// " 3": the number as a signed number prints, with the blank where a sign would go.
std::string freePortEntry(int port);
// "3 - In Use"
std::string inUsePortEntry(int port);

}  // namespace k9
