#include "cli/port_search.h"

#include <memory>

#include "config/app_config.h"
#include "devices/port_identity.h"
#include "devices/qt_serial_line.h"
#include "platform/event_loop.h"
#include "platform/runtime_error.h"
#include "update/device_link.h"

namespace k9 {
namespace {

constexpr std::int64_t kPollMs = 100;

struct Candidate {
    int port;
    std::unique_ptr<QtSerialLine> line;
    std::string received;
};

}  // namespace

std::vector<int> freePorts(const AppConfig& config) {
    std::vector<int> ports;
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        const std::string path = config.devicePath(port);
        if (!path.empty() && checkPortAccess(path).access == PortAccess::Free) {
            ports.push_back(port);
        }
    }
    return ports;
}

int findUnitPort(EventLoop& loop, const AppConfig& config, const std::vector<int>& ports,
                 std::int64_t waitMs) {
    std::vector<Candidate> open;
    for (const int port : ports) {
        auto line = std::make_unique<QtSerialLine>(config.ports);
        try {
            line->setCommPort(static_cast<std::int16_t>(port));
            line->setSettings("38400,N,8,1");
            line->setInputLen(0);
            line->setPortOpen(true);
            open.push_back({port, std::move(line), {}});
        } catch (const RuntimeError&) {
            // Taken or gone since it was listed: not a candidate any more.
        }
    }
    const std::int64_t deadline = loop.tickMs() + waitMs;
    while (!open.empty() && loop.tickMs() < deadline) {
        loop.waitUntil(loop.tickMs() + kPollMs);
        for (auto it = open.begin(); it != open.end();) {
            try {
                it->received += it->line->input();
            } catch (const RuntimeError&) {
                it = open.erase(it);  // unplugged while we listened
                continue;
            }
            if (receivedKeyword(it->received, "#FTPUN", true)) {
                return it->port;  // the others close as `open` goes
            }
            ++it;
        }
    }
    return 0;
}

}  // namespace k9
