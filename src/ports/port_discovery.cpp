#include "ports/port_discovery.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <exception>

#include "devices/port_probe.h"
#include "platform/main_view.h"
#include "platform/texts.h"
#include "ports/port_advice.h"

namespace k9 {

std::string freePortEntry(int port) {
    return " " + std::to_string(port);
}

std::string inUsePortEntry(int port) {
    return std::to_string(port) + " - In Use";
}

void PortDiscovery::mnuMainFilter_Click() {
    view_.clearPorts();
    details_.clear();
    causes_.clear();
    view_.setFilterChecked(!view_.filterChecked());
    build(true);
}

void PortDiscovery::rebuild() {
    view_.clearPorts();
    details_.clear();
    causes_.clear();
    build(false);
}

void PortDiscovery::build(bool tellUser) {
    if (view_.filterChecked()) {
        try {
            probePorts(tellUser);
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
    cboPort_Click();
}

void PortDiscovery::cboPort_Click() {
    const int selected = view_.selectedPort();
    const bool listed = selected >= 0 && selected < static_cast<int>(details_.size());
    view_.setPortDetail(listed ? details_[static_cast<std::size_t>(selected)] : std::string());
    // Why the chosen port is busy; with none chosen (all busy), why the first one is.
    std::string cause;
    if (listed) {
        cause = causes_[static_cast<std::size_t>(selected)];
    } else if (selected < 0) {
        const auto first = std::find_if(causes_.begin(), causes_.end(),
                                        [](const std::string& c) { return !c.empty(); });
        cause = first == causes_.end() ? std::string() : *first;
    }
    // The line is shared with other notes: only ours is taken away again.
    if (!cause.empty() || asideShown_) {
        view_.setStatusAside(cause);
        asideShown_ = !cause.empty();
    }
}

void PortDiscovery::addEntry(const std::string& entry, const std::string& detail,
                             const std::string& tip, const std::string& cause) {
    view_.addPort(entry);
    details_.push_back(detail);
    causes_.push_back(cause);
    view_.setPortTooltip(view_.portCount() - 1, tip);
}

void PortDiscovery::probePorts(bool tellUser) {
    bool found = false;
    std::int16_t inUse = 0;
    std::int16_t absent = 0;
    denied_.clear();
    busy_ = false;
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        const ProbeResult result = probe_.probe(port);
        PortAccessReport why;
        if (result == ProbeResult::InUse || result == ProbeResult::Denied) {
            why = probe_.access(port);
        }
        const PortIdentity id = result == ProbeResult::Absent || result == ProbeResult::Other
                                    ? PortIdentity{}
                                    : probe_.identify(port);
        switch (result) {
            case ProbeResult::Free:
                addEntry(freePortEntry(port), portDetail(id, result, why),
                         portTooltip(id, result, why));
                found = true;
                break;
            case ProbeResult::Denied:
                denied_.push_back(id.device);
                deniedWhy_ = why;
                [[fallthrough]];
            case ProbeResult::InUse:
                busy_ = busy_ || result == ProbeResult::InUse;
                addEntry(inUsePortEntry(port), portDetail(id, result, why),
                         portTooltip(id, result, why),
                         result == ProbeResult::InUse ? why.cause : std::string());
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
    } else if (!tellUser) {
        return;
    } else if (absent == kComPortCount) {
        view_.showMessage(Message{"No Com Ports have been detected. " + kCrLf +
                                      "Your PC may have its Com Ports disabled. " + kCrLf +
                                      "If your PC " + "has no Com Ports, a USB to RS232 Com Port " +
                                      kCrLf + "converter cable is available.",
                                  title});
    } else if (inUse >= 1) {
        reportNoAvailablePort(title);
    }
}

void PortDiscovery::reportNoAvailablePort(const std::string& title) {
    const std::string busyText = "No Available Com Ports have been detected. " + kCrLf +
                                 "Please free a Com/Serial Port for " + kCrLf + "the " +
                                 deviceName_ + " to be used.";
    if (denied_.empty()) {
        view_.showMessage(Message{busyText, title});
        return;
    }
    // Freeing a port does not help with a port this user may not open.
    const std::string advice = permissionText(denied_, deniedWhy_);
    view_.showMessage(Message{busy_ ? busyText + kCrLf + kCrLf + advice : advice, title});
}

void PortDiscovery::listAllPorts() {
    // An interrupted probe may have left entries behind.
    view_.clearPorts();
    details_.clear();
    causes_.clear();
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        const PortIdentity id = probe_.identify(port);
        addEntry(freePortEntry(port), portDetail(id, std::nullopt, {}),
                 portTooltip(id, std::nullopt, {}));
    }
    view_.selectPort(0);
}

}  // namespace k9
