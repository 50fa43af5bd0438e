#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace k9 {

// Where the machine's folders are read from: "/" for this machine, a folder of the same shape
// (proc/, sys/, run/udev/, etc/udev/rules.d/, ...) for a test.
struct SystemRoot {
    std::string base = "/";
    // `absolute` ("/proc/1/comm") below the base.
    std::string path(std::string_view absolute) const;
};

struct UsbIds {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// Who keeps the user from a serial port.
enum class CulpritKind {
    None,
    Brltty,        // the braille display service took the adapter
    ModemManager,  // probing it for a modem
    Gpsd,          // took it for a GPS receiver
    Process,       // any other program, named
    OtherUser,     // a process we may not look into
};

// What happened to the port: it is there but cannot be opened, or it came and went.
enum class PortSymptom { Busy, Vanished };

struct PortCulprit {
    CulpritKind kind = CulpritKind::None;
    long pid = 0;         // 0 when not known
    std::string command;  // the holder's command name, when known
    // One line of cause and advice for people: who, and what to do about it (the exact udev
    // rule file and line where one helps). Empty when there is nothing to say.
    std::string line;
};

// Finds out, from what any user may read below `root` (process folders, the udev database
// and rule folders, sysfs, the kernel log where readable), why `device` (a node such as
// "/dev/ttyUSB0", or a link to one) is busy or went away. `ids` are the adapter's vendor and
// product ids when the caller saw them; otherwise they are read from sysfs. Changes nothing.
PortCulprit findPortCulprit(const SystemRoot& root, const std::string& device,
                            std::optional<UsbIds> ids = std::nullopt,
                            PortSymptom symptom = PortSymptom::Busy);

// The adapter's ids behind a tty node ("/dev/ttyUSB0"), from sysfs; none for a port that is
// no USB device or is gone.
std::optional<UsbIds> usbIdsOf(const SystemRoot& root, const std::string& node);

// For a port of this machine that could not be opened: the line of cause and advice when it is
// busy, or when it is gone because brltty took it; else empty.
std::string portTroubleLine(const std::string& device);

}  // namespace k9
