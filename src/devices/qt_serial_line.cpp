#include "devices/qt_serial_line.h"

#include <sys/stat.h>

#include <cerrno>

#include "devices/port_identity.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

constexpr qint64 kReadBufferBytes = 1 << 20;

QSerialPort::Parity toParity(char p) {
    switch (p) {
        case 'O':
            return QSerialPort::OddParity;
        case 'E':
            return QSerialPort::EvenParity;
        case 'M':
            return QSerialPort::MarkParity;
        case 'S':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

// A FIFO, a file or a folder named in the port map is no port; a dangling link neither.
bool isCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

}  // namespace

QtSerialLine::QtSerialLine(std::map<int, std::string> portMap) : portMap_(std::move(portMap)) {
    QObject::connect(&port_, &QSerialPort::errorOccurred, [this](QSerialPort::SerialPortError e) {
        // An unplugged adapter shows up as a resource error; from then on every read or write
        // fails instead of waiting for data that cannot come.
        if (e == QSerialPort::ResourceError && port_.isOpen()) {
            broken_ = true;
        }
    });
}

QtSerialLine::~QtSerialLine() {
    try {
        close();
    } catch (...) {
    }
}

void QtSerialLine::raise(std::int32_t number, const std::string& what) const {
    throw RuntimeError(number, "Serial port COM" + std::to_string(commPort_), what, errno);
}

void QtSerialLine::setSettings(const std::string& settings) {
    parseLineSettings(settings);
    settings_ = settings;
}

void QtSerialLine::setPortOpen(bool open) {
    if (!portOpenChanges(open, port_.isOpen(), commPort_)) {
        return;
    }
    if (open) {
        this->open();
    } else {
        close();
    }
}

void QtSerialLine::open() {
    const auto it = portMap_.find(commPort_);
    if (commPort_ < 1 || it == portMap_.end() || it->second.empty()) {
        raise(err::kInvalidPortNumber, "Invalid Port Number");
    }
    if (!isCharacterDevice(it->second)) {
        raise(err::kInvalidPortNumber, "Invalid Port Number (" + it->second + " is no device)");
    }
    const LineSettings line = parseLineSettings(settings_);
    port_.setPortName(QString::fromStdString(it->second));
    // Between two reads of the run a unit sends a few kilobytes; a flood waits in the
    // device's own buffer instead of growing ours without end.
    port_.setReadBufferSize(kReadBufferBytes);
    broken_ = false;
    if (!port_.open(QIODevice::ReadWrite)) {
        const auto error = port_.error();
        const std::string detail = port_.errorString().toStdString();
        port_.clearError();
        // A device that is no terminal (/dev/null, say) is no port either.
        if (error == QSerialPort::DeviceNotFoundError ||
            checkPortAccess(it->second).access == PortAccess::Absent) {
            raise(err::kInvalidPortNumber, "Invalid Port Number (" + it->second + ")");
        }
        if (error == QSerialPort::PermissionError) {
            raise(err::kPortNotAvailable, "The port is in use or not permitted: " + detail);
        }
        raise(err::kPortNotAvailable, "The port could not be opened: " + detail);
    }
    const bool configured =
        port_.setBaudRate(line.baud) &&
        port_.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits)) &&
        port_.setParity(toParity(line.parity)) &&
        port_.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
        port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        const std::string detail = port_.errorString().toStdString();
        port_.close();
        raise(err::kPortSettings, "Could not set comm state: " + detail);
    }
    // A pseudo-terminal refuses the modem lines; a real port takes them.
    port_.setDataTerminalReady(true);
    port_.setRequestToSend(false);
    port_.clearError();
}

void QtSerialLine::close() {
    if (!port_.isOpen()) {
        return;
    }
    if (!broken_ && port_.bytesToWrite() > 0) {
        port_.waitForBytesWritten(200);
    }
    port_.close();
    port_.clearError();
    broken_ = false;
}

void QtSerialLine::throwIfBroken() const {
    if (broken_) {
        raise(err::kPortIo, "The serial device is no longer available");
    }
}

std::string QtSerialLine::input() {
    if (!port_.isOpen()) {
        raise(err::kPortNotOpen, "Operation valid only when the port is open");
    }
    throwIfBroken();
    const QByteArray data = port_.readAll();
    throwIfBroken();
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void QtSerialLine::output(std::string_view bytes) {
    if (!port_.isOpen()) {
        raise(err::kPortNotOpen, "Operation valid only when the port is open");
    }
    throwIfBroken();
    if (port_.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        raise(err::kPortIo,
              "Error writing to the serial device: " + port_.errorString().toStdString());
    }
    port_.flush();
    throwIfBroken();
}

}  // namespace k9
