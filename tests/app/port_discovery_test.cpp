#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "fake_probe.h"
#include "platform/port_probe.h"
#include "platform/qt_serial_line.h"
#include "ports/port_discovery.h"
#include "pty_device.h"
#include "recording_view.h"

namespace k9 {
namespace {

using test::FakeProbe;
using test::PtyDevice;
using test::RecordingView;

const std::string kCaption = "Sentrel K9 Updater - Com Port Error";
const std::string kNoPorts =
    "No Com Ports have been detected. \r\nYour PC may have its Com Ports disabled. \r\n"
    "If your PC has no Com Ports, a USB to RS232 Com Port \r\nconverter cable is available.";
const std::string kAllInUse =
    "No Available Com Ports have been detected. \r\nPlease free a Com/Serial Port for \r\n"
    "the Sentrel K9 to be used.";
const std::vector<std::string> kAllPorts{" 1", " 2", " 3", " 4",  " 5",  " 6",
                                         " 7", " 8", " 9", " 10", " 11", " 12"};

class PortDiscoveryTest : public ::testing::Test {
  protected:
    // Clicks with the check mark off, so the click turns the filter on.
    void clickToFilter() {
        view.setFilterChecked(false);
        discovery.mnuMainFilter_Click();
    }

    RecordingView view;
    FakeProbe probe;
    PortDiscovery discovery{view, probe, "Sentrel K9"};
};

TEST_F(PortDiscoveryTest, FilteredListShowsFreeAndHeldPortsInOrder) {
    struct Case {
        const char* name;
        std::map<int, ProbeResult> results;
        std::vector<std::string> entries;
    };
    const std::vector<Case> cases{
        {"two free", {{1, ProbeResult::Free}, {4, ProbeResult::Free}}, {" 1", " 4"}},
        // The first entry is selected even when it is a port in use.
        {"held below free",
         {{1, ProbeResult::InUse}, {3, ProbeResult::Free}},
         {"1 - In Use", " 3"}},
        {"two digits", {{12, ProbeResult::Free}, {10, ProbeResult::InUse}}, {"10 - In Use", " 12"}},
        {"other failures are left out", {{2, ProbeResult::Other}, {5, ProbeResult::Free}}, {" 5"}},
    };
    for (const auto& c : cases) {
        probe.results = c.results;
        view.messages.clear();
        clickToFilter();
        EXPECT_TRUE(view.filterChecked()) << c.name;
        EXPECT_EQ(view.ports, c.entries) << c.name;
        EXPECT_EQ(view.selectedPort(), 0) << c.name;
        EXPECT_TRUE(view.messages.empty()) << c.name;
    }
}

TEST_F(PortDiscoveryTest, NoUsablePortIsReportedOnce) {
    struct Case {
        const char* name;
        std::map<int, ProbeResult> results;
        std::vector<std::string> entries;
        std::string message;  // empty: none
    };
    std::map<int, ProbeResult> allOther;
    for (int port = 1; port <= 12; ++port) {
        allOther[port] = ProbeResult::Other;
    }
    const std::vector<Case> cases{
        {"all held", {{2, ProbeResult::InUse}}, {"2 - In Use"}, kAllInUse},
        {"no ports at all", {}, {}, kNoPorts},
        {"all failing otherwise", allOther, {}, ""},
        {"one absent short of all", {{7, ProbeResult::Other}}, {}, ""},
    };
    for (const auto& c : cases) {
        probe.results = c.results;
        view.messages.clear();
        clickToFilter();
        EXPECT_EQ(view.ports, c.entries) << c.name;
        EXPECT_EQ(view.selectedPort(), -1) << c.name;
        if (c.message.empty()) {
            EXPECT_TRUE(view.messages.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(view.messages.size(), 1u) << c.name;
        EXPECT_EQ(view.messages[0].text, c.message) << c.name;
        EXPECT_EQ(view.messages[0].title, kCaption) << c.name;
        EXPECT_EQ(view.messages[0].icon, MessageIcon::None) << c.name;
        EXPECT_EQ(view.messages[0].buttons, MessageButtons::Ok) << c.name;
        EXPECT_TRUE(view.filterChecked()) << c.name;
    }
}

TEST_F(PortDiscoveryTest, UnfilteredListProbesNothing) {
    probe.results = {{1, ProbeResult::InUse}};
    view.setFilterChecked(true);
    view.addPort("stale");
    discovery.mnuMainFilter_Click();
    EXPECT_FALSE(view.filterChecked());
    EXPECT_EQ(view.ports, kAllPorts);
    EXPECT_EQ(view.selectedPort(), 0);
    EXPECT_TRUE(probe.probed.empty());
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(PortDiscoveryTest, EachClickInvertsTheMarkAndRebuildsTheList) {
    probe.results = {{3, ProbeResult::Free}};
    view.setFilterChecked(false);
    discovery.mnuMainFilter_Click();
    EXPECT_EQ(view.ports, std::vector<std::string>{" 3"});
    discovery.mnuMainFilter_Click();
    EXPECT_FALSE(view.filterChecked());
    EXPECT_EQ(view.ports, kAllPorts);
    probe.results = {{4, ProbeResult::Free}};
    discovery.mnuMainFilter_Click();
    EXPECT_TRUE(view.filterChecked());
    EXPECT_EQ(view.ports, std::vector<std::string>{" 4"});
    // Two probe passes of ports 1 to 12, nothing above.
    std::vector<int> expected;
    for (int pass = 0; pass < 2; ++pass) {
        for (int port = 1; port <= 12; ++port) {
            expected.push_back(port);
        }
    }
    EXPECT_EQ(probe.probed, expected);
}

TEST_F(PortDiscoveryTest, AFailingProbeFallsBackToThePlainList) {
    probe.results = {{1, ProbeResult::Free}, {2, ProbeResult::InUse}};
    probe.failing = 5;
    clickToFilter();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              "An error occured while checking for available Com Ports. \r\n"
              "Switching to default list.");
    EXPECT_EQ(view.messages[0].title, "Sentrel K9 Updater");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Information);
    EXPECT_FALSE(view.filterChecked());
    // The entries of the interrupted probe are gone.
    EXPECT_EQ(view.ports, kAllPorts);
    EXPECT_EQ(view.selectedPort(), 0);
    // The next click turns the filter on and probes again.
    probe.failing = 0;
    discovery.mnuMainFilter_Click();
    EXPECT_TRUE(view.filterChecked());
    EXPECT_EQ(view.ports, (std::vector<std::string>{" 1", "2 - In Use"}));
}

TEST(PortDiscoveryOnDevices, FreeHeldAndMissingDevices) {
    PtyDevice free;
    PtyDevice held;
    const std::map<int, std::string> ports{
        {1, free.path()}, {2, held.path()}, {3, "/dev/k9-no-such-device"}};
    // Another program's open: the updater's own serial line holds port 2.
    QtSerialLine holder(ports);
    holder.setCommPort(2);
    holder.setSettings("38400,N,8,1");
    holder.setPortOpen(true);
    ASSERT_TRUE(holder.portOpen());

    RecordingView view;
    QtPortProbe probe(ports);
    PortDiscovery discovery(view, probe, "Sentrel K9");
    discovery.mnuMainFilter_Click();
    EXPECT_EQ(view.ports, (std::vector<std::string>{" 1", "2 - In Use"}));
    EXPECT_EQ(view.selectedPort(), 0);
    EXPECT_TRUE(view.messages.empty());

    // Released, it is free again; the free port was only held for a moment by the probe.
    holder.setPortOpen(false);
    view.setFilterChecked(false);
    discovery.mnuMainFilter_Click();
    EXPECT_EQ(view.ports, (std::vector<std::string>{" 1", " 2"}));
}

}  // namespace
}  // namespace k9
