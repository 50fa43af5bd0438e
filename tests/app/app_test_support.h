#pragma once

#include <map>
#include <vector>

#include "platform/port_probe.h"
#include "platform/runtime_error.h"

namespace k9::test {

// Answers from a table; ports not in it are absent. Probing port `failing` throws.
class FakeProbe final : public PortProbe {
  public:
    ProbeResult probe(int port) override {
        probed.push_back(port);
        if (port == failing) {
            throw RuntimeError(5, "probe", "unexpected");
        }
        return results.count(port) ? results[port] : ProbeResult::Absent;
    }

    std::map<int, ProbeResult> results;
    int failing = 0;
    std::vector<int> probed;
};

}  // namespace k9::test
