#include "platform/port_probe.h"

#include <QSerialPort>

namespace k9 {

ProbeResult QtPortProbe::probe(int port) {
    const auto it = portMap_.find(port);
    if (it == portMap_.end() || it->second.empty()) {
        return ProbeResult::Absent;
    }
    QSerialPort serial;
    serial.setPortName(QString::fromStdString(it->second));
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
