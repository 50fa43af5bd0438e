#include "ports/port_discovery.h"

#include <cstdint>
#include <exception>

#include "platform/main_view.h"
#include "platform/port_probe.h"
#include "platform/texts.h"

namespace k9 {

std::string freePortEntry(int port) {
    return " " + std::to_string(port);
}

std::string inUsePortEntry(int port) {
    return std::to_string(port) + " - In Use";
}

void PortDiscovery::mnuMainFilter_Click() {
    view_.clearPorts();
    view_.setFilterChecked(!view_.filterChecked());
    if (view_.filterChecked()) {
        try {
            probePorts();
        } catch (const std::exception&) {
            view_.showMessage(Message{"An error occured while checking for available Com Ports. " +
                                          kCrLf + "Switching to default list.",
                                      deviceName_ + " Updater", MessageIcon::Information});
            view_.setFilterChecked(false);
        }
    }
    if (!view_.filterChecked()) {
        listAllPorts();
    }
}

void PortDiscovery::probePorts() {
    bool found = false;
    std::int16_t inUse = 0;
    std::int16_t absent = 0;
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        switch (probe_.probe(port)) {
            case ProbeResult::Free:
                view_.addPort(freePortEntry(port));
                found = true;
                break;
            case ProbeResult::InUse:
                view_.addPort(inUsePortEntry(port));
                ++inUse;
                break;
            case ProbeResult::Absent:
                ++absent;
                break;
            case ProbeResult::Other:
                break;
        }
    }
    const std::string title = deviceName_ + " Updater - Com Port Error";
    if (found) {
        view_.selectPort(0);
    } else if (absent == kComPortCount) {
        view_.showMessage(Message{"No Com Ports have been detected. " + kCrLf +
                                      "Your PC may have its Com Ports disabled. " + kCrLf +
                                      "If your PC " + "has no Com Ports, a USB to RS232 Com Port " +
                                      kCrLf + "converter cable is available.",
                                  title});
    } else if (inUse >= 1) {
        view_.showMessage(Message{"No Available Com Ports have been detected. " + kCrLf +
                                      "Please free a Com/Serial Port for " + kCrLf + "the " +
                                      deviceName_ + " to be used.",
                                  title});
    }
}

void PortDiscovery::listAllPorts() {
    // An interrupted probe may have left entries behind.
    view_.clearPorts();
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        view_.addPort(freePortEntry(port));
    }
    view_.selectPort(0);
}

}  // namespace k9
