#pragma once

#include <QCoreApplication>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "devices/port_probe.h"
#include "platform/runtime_error.h"

namespace k9::test {

// Turns the event loop until the condition holds; false if it never does within `turns`.
template <typename Condition>
bool processUntil(Condition condition, int turns = 1000) {
    for (int i = 0; i < turns && !condition(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // lets a timer come due
    }
    return condition();
}

// The port list without the filter.
inline const std::vector<std::string> kAllPorts{" 1", " 2", " 3", " 4",  " 5",  " 6",
                                                " 7", " 8", " 9", " 10", " 11", " 12"};

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
