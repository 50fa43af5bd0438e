#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace k9 {

// What the machine says is behind a device path (QSerialPortInfo and /dev/serial/by-id).
struct PortIdentity {
    std::string device;       // as configured, e.g. /dev/ttyUSB0 or /dev/serial/by-id/usb-...
    std::string resolved;     // the real node the path leads to (symlinks followed)
    std::string byId;         // stable /dev/serial/by-id name, empty when none
    std::string description;  // adapter's product text, empty when unknown
    std::string manufacturer;
    std::string serialNumber;  // the adapter's own serial (not the unit's)
    std::optional<std::uint16_t> vendorId;
    std::optional<std::uint16_t> productId;
    bool present = false;         // the node exists
    std::string summary() const;  // one line for a label/tooltip/CLI, e.g.
                                  // "/dev/ttyUSB0 - FT232R USB UART (FTDI, 0403:6001, serial A10K)"
};

enum class PortAccess { Free, Busy, NoPermission, Absent };

struct PortAccessReport {
    PortAccess access = PortAccess::Absent;
    long holderPid = 0;        // from a lock file when one names it, else 0
    std::string group;         // group owning the device node (e.g. "dialout"), empty if unknown
    bool userInGroup = false;  // the user is listed in that group (/etc/group or getgrouplist)
    bool sessionHasGroup = false;  // the running process already has that group (getgroups)
    std::string cause;  // for a busy port: who holds it and what to do, one line; may be empty
};

PortIdentity identifyPort(const std::string& devicePath);
PortAccessReport checkPortAccess(
    const std::string& devicePath);  // opens O_NONBLOCK|O_NOCTTY, closes at once

}  // namespace k9
