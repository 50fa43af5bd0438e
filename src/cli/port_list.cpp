#include "cli/port_list.h"

#include <ostream>

#include "cli/run_report.h"
#include "config/app_config.h"
#include "devices/port_culprit.h"
#include "devices/port_identity.h"

namespace k9 {
namespace {

std::string accessText(const PortAccessReport& r) {
    switch (r.access) {
        case PortAccess::Free:
            return "free";
        case PortAccess::Busy:
            return r.holderPid > 0 ? "in use (pid " + std::to_string(r.holderPid) + ")" : "in use";
        case PortAccess::NoPermission:
            return r.group.empty() ? "no permission" : "no permission (group " + r.group + ")";
        case PortAccess::Absent:
            break;
    }
    return "absent";
}

}  // namespace

void listPorts(const AppConfig& config, bool json, std::ostream& out) {
    bool first = true;
    if (json) {
        out << '[';
    }
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        const std::string path = config.devicePath(port);
        if (path.empty()) {
            continue;
        }
        const PortIdentity id = identifyPort(path);
        if (!id.present) {
            continue;
        }
        const PortAccessReport access = checkPortAccess(path);
        const std::string cause =
            access.access == PortAccess::Busy ? findPortCulprit(SystemRoot{}, path).line : "";
        if (json) {
            out << (first ? "" : ",") << "\n  {\"port\":" << port
                << ",\"device\":" << jsonString(path) << ",\"resolved\":" << jsonString(id.resolved)
                << ",\"state\":" << jsonString(accessText(access))
                << ",\"holderPid\":" << access.holderPid << ",\"cause\":" << jsonString(cause)
                << ",\"identity\":" << jsonString(id.summary()) << '}';
        } else {
            out << port << '\t' << path << '\t' << accessText(access)
                << (cause.empty() ? "" : " - " + cause) << '\t' << id.summary() << '\n';
        }
        first = false;
    }
    if (json) {
        out << (first ? "]" : "\n]") << '\n';
    } else if (first) {
        std::string looked;
        for (const std::string& path : config.devicePaths()) {
            looked += (looked.empty() ? "" : ", ") + path;
        }
        out << "No serial port found. Looked for COM" << kFirstComPort << " to COM" << kLastComPort
            << " at " << (looked.empty() ? "no device (the port map is empty)" : looked)
            << "; other devices can be named in the [ports] section of k9updater.conf.\n";
    }
}

}  // namespace k9
