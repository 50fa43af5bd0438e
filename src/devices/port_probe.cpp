#include "devices/port_probe.h"

#include <QSerialPort>

#include "devices/port_culprit.h"

namespace k9 {

std::string QtPortProbe::path(int port) const {
    const auto it = portMap_.find(port);
    return it == portMap_.end() ? std::string() : it->second;
}

PortIdentity QtPortProbe::identify(int port) {
    return identifyPort(path(port));
}

PortAccessReport QtPortProbe::access(int port) {
    PortAccessReport report = checkPortAccess(path(port));
    if (report.access == PortAccess::Busy) {
        report.cause = findPortCulprit(SystemRoot{}, path(port)).line;
    }
    return report;
}

ProbeResult QtPortProbe::probe(int port) {
    const std::string device = path(port);
    if (device.empty()) {
        return ProbeResult::Absent;
    }
    // The device's own answer first: Qt reports a denied open like a busy one, and would
    // open a FIFO or a file that is no port.
    switch (checkPortAccess(device).access) {
        case PortAccess::Absent:
            return ProbeResult::Absent;
        case PortAccess::NoPermission:
            return ProbeResult::Denied;
        case PortAccess::Busy:
            return ProbeResult::InUse;
        case PortAccess::Free:
            break;
    }
    QSerialPort serial;
    serial.setPortName(QString::fromStdString(device));
    if (serial.open(QIODevice::ReadWrite)) {
        serial.close();
        return ProbeResult::Free;
    }
    switch (serial.error()) {
        case QSerialPort::DeviceNotFoundError:
            return ProbeResult::Absent;
        case QSerialPort::PermissionError:
            return ProbeResult::InUse;
        default:
            return ProbeResult::Other;
    }
}

}  // namespace k9
