#pragma once

#include <string>
#include <utility>
#include <vector>

#include "config/app_config.h"
#include "config/settings_line.h"
#include "devices/port_identity.h"

namespace k9 {

class MainView;
class PortProbe;

// Builds the port list cboPort: with "Filter Com Ports" checked, ports 1 to 12 are probed and
// listed as free (" 3") or held by another program ("3 - In Use"); unchecked, the plain list
// " 1" to " 12". Each entry carries what device it is, and a busy one who holds it, which
// the status area's foot shows for the chosen port.
class PortDiscovery final {
  public:
    PortDiscovery(MainView& view, PortProbe& probe, std::string deviceName)
        : view_(view), probe_(probe), deviceName_(std::move(deviceName)) {}

    // Inverts the check mark and rebuilds the list for the new state.
    void mnuMainFilter_Click();
    // Rebuilds the list for the check mark as it is, without the messages of a missing port:
    // the devices changed, nobody asked.
    void rebuild();
    // The selected entry changed: its device goes to the line beside the list.
    void cboPort_Click();

  private:
    void build(bool tellUser);
    void probePorts(bool tellUser);
    void listAllPorts();
    void addEntry(const std::string& entry, const std::string& detail, const std::string& tip,
                  const std::string& cause = {});
    void reportNoAvailablePort(const std::string& title);

    MainView& view_;
    PortProbe& probe_;
    std::string deviceName_;
    std::vector<std::string> details_;
    // Why each busy entry is busy, empty for the others.
    std::vector<std::string> causes_;
    bool asideShown_ = false;
    // Devices of the ports listed in use because this user may not open them.
    std::vector<std::string> denied_;
    PortAccessReport deniedWhy_;
    bool busy_ = false;
};

// " 3": the number as a signed number prints, with the blank where a sign would go.
std::string freePortEntry(int port);
// "3 - In Use"
std::string inUsePortEntry(int port);

}  // namespace k9
