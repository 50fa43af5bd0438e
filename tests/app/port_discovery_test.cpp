#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "fake_probe.h"
#include "ports/port_discovery.h"
#include "recording_view.h"

namespace k9 {
namespace {

using test::FakeProbe;
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

}  // namespace
}  // namespace k9
