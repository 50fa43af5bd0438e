#include "devices/vanish_watch.h"

#include <dirent.h>

#include <string_view>

namespace k9 {

std::set<std::string> adapterNodes(const SystemRoot& root) {
    std::set<std::string> nodes;
    DIR* dir = ::opendir(root.path("/dev").c_str());
    if (dir == nullptr) {
        return nodes;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if ((name.starts_with("ttyUSB") || name.starts_with("ttyACM")) && name.size() > 6) {
            nodes.insert("/dev/" + std::string(name));
        }
    }
    ::closedir(dir);
    return nodes;
}

VanishWatch::VanishWatch(SystemRoot root, Report report)
    : root_(std::move(root)), report_(std::move(report)), present_(adapterNodes(root_)) {}

void VanishWatch::check(std::int64_t nowMs) {
    std::set<std::string> now = adapterNodes(root_);
    for (const std::string& node : now) {
        if (!present_.contains(node)) {
            arrivals_[node] = Arrival{nowMs, usbIdsOf(root_, node)};
            // A new arrival may be the one that stays: what was said no longer stands.
            if (told_ && report_) {
                told_ = false;
                report_(node, PortCulprit{});
            }
        }
    }
    for (const std::string& node : present_) {
        const auto arrival = arrivals_.find(node);
        if (now.contains(node) || arrival == arrivals_.end()) {
            continue;
        }
        const Arrival seen = arrival->second;
        arrivals_.erase(arrival);
        if (nowMs - seen.atMs <= kVanishWindowMs && report_) {
            told_ = true;
            report_(node, findPortCulprit(root_, node, seen.ids, PortSymptom::Vanished));
        }
    }
    present_ = std::move(now);
}

}  // namespace k9
