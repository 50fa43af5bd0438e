#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "devices/port_culprit.h"

namespace k9 {

// Follows the serial nodes of USB adapters and asks why when one that appeared goes again
// within a few seconds: brltty takes CH340 adapters a second after the kernel made their node,
// and the user never sees a port. Fed on every change of the device folder. The next arrival
// after such a report is reported with no culprit, so what was said can go.
class VanishWatch final {
  public:
    using Report = std::function<void(const std::string& node, const PortCulprit&)>;

    // The nodes there now are old: only one seen arriving is asked about.
    VanishWatch(SystemRoot root, Report report);

    // The device folder changed; `nowMs` on any monotonic clock.
    void check(std::int64_t nowMs);

  private:
    struct Arrival {
        std::int64_t atMs = 0;
        std::optional<UsbIds> ids;  // read while sysfs still has them
    };

    SystemRoot root_;
    Report report_;
    std::set<std::string> present_;
    std::map<std::string, Arrival> arrivals_;
    bool told_ = false;
};

// The nodes of USB serial adapters below the root: /dev/ttyUSB<n> and /dev/ttyACM<n>.
std::set<std::string> adapterNodes(const SystemRoot& root);

// How soon after its arrival a node must go to count as taken away.
inline constexpr std::int64_t kVanishWindowMs = 5000;

}  // namespace k9
