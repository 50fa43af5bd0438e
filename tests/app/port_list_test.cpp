#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "app_test_support.h"
#include "controller_harness.h"
#include "ports/port_advice.h"
#include "ports/port_control.h"
#include "ports/port_discovery.h"
#include "ports/port_refresh.h"
#include "recording_view.h"
#include "scripted_serial_line.h"

namespace k9 {
namespace {

using test::FakeProbe;
using test::RecordingView;
using enum ProbeResult;

const std::string kNoPorts =
    "No Com Ports have been detected. \r\nYour PC may have its Com Ports disabled. \r\n"
    "If your PC has no Com Ports, a USB to RS232 Com Port \r\nconverter cable is available.";
const std::string kAllInUse =
    "No Available Com Ports have been detected. \r\nPlease free a Com/Serial Port for \r\n"
    "the Sentrel K9 to be used.";

// Port N is /dev/ttyUSBN, present when it has a result; the rest are absent.
class DeviceProbe final : public PortProbe {
  public:
    ProbeResult probe(int port) override { return results.count(port) ? results[port] : Absent; }
    PortIdentity identify(int port) override {
        PortIdentity id;
        id.device = "/dev/ttyUSB" + std::to_string(port);
        id.present = results.count(port) > 0;
        return id;
    }
    PortAccessReport access(int port) override { return reports[port]; }

    std::map<int, ProbeResult> results;
    std::map<int, PortAccessReport> reports;
};

PortAccessReport denied(const std::string& group, bool inGroup = false, bool inSession = false) {
    return {PortAccess::NoPermission, 0, group, inGroup, inSession, {}};
}

std::string joinText(const std::string& device) {
    return "You have no permission to use " + device +
           ". \r\nIt belongs to the group dialout; to join it, type in a terminal: \r\nsudo "
           "usermod -aG dialout $USER\r\nthen log out and log in again.";
}

// The list over either probe, clicked with the check mark off so the click turns the filter on.
template <typename Probe>
class ListTest : public ::testing::Test {
  protected:
    void filterOn(std::map<int, ProbeResult> results) {
        probe.results = std::move(results);
        view.messages.clear();
        view.setFilterChecked(false);
        discovery.mnuMainFilter_Click();
    }

    VirtualEventLoop loop;
    RecordingView view;
    Probe probe;
    PortDiscovery discovery{view, probe, "Sentrel K9"};
    PortRefresh refresh{loop, view, discovery,
                        [this] { return std::to_string(probe.results.size()); }};
};
using PortDiscoveryTest = ListTest<FakeProbe>;
using PortListTest = ListTest<DeviceProbe>;

TEST_F(PortDiscoveryTest, FilteredListShowsFreeAndHeldPortsOrSaysWhyNotAndAFailureFallsBack) {
    struct Case {
        const char* name;
        std::map<int, ProbeResult> results;
        std::vector<std::string> entries;
        int selected;
        std::string message;  // empty: none
    };
    std::map<int, ProbeResult> allOther;
    for (int port = 1; port <= 12; ++port) {
        allOther[port] = Other;
    }
    const std::vector<Case> cases{
        {"two free", {{1, Free}, {4, Free}}, {" 1", " 4"}, 0, ""},
        // The first entry is selected even when it is a port in use.
        {"held below free", {{1, InUse}, {3, Free}}, {"1 - In Use", " 3"}, 0, ""},
        {"two digits", {{12, Free}, {10, InUse}}, {"10 - In Use", " 12"}, 0, ""},
        {"other failures are left out", {{2, Other}, {5, Free}}, {" 5"}, 0, ""},
        {"all held", {{2, InUse}}, {"2 - In Use"}, -1, kAllInUse},
        {"no ports at all", {}, {}, -1, kNoPorts},
        {"all failing otherwise", allOther, {}, -1, ""},
        {"one absent short of all", {{7, Other}}, {}, -1, ""},
    };
    for (const auto& c : cases) {
        filterOn(c.results);
        EXPECT_TRUE(view.filterChecked()) << c.name;
        EXPECT_EQ(view.ports, c.entries) << c.name;
        EXPECT_EQ(view.selectedPort(), c.selected) << c.name;
        ASSERT_EQ(view.messages.size(), c.message.empty() ? 0u : 1u) << c.name;
        for (const Message& m : view.messages) {
            EXPECT_EQ(std::tie(m.text, m.title, m.icon, m.buttons),
                      std::tuple(c.message, "Sentrel K9 Updater - Com Port Error",
                                 MessageIcon::None, MessageButtons::Ok))
                << c.name;
        }
    }

    // A failing probe falls back to the plain list.
    probe.failing = 5;
    filterOn({{1, Free}, {2, InUse}});
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text,
              "An error occured while checking for available Com Ports. \r\n"
              "Switching to default list.");
    EXPECT_EQ(view.messages[0].title, "Sentrel K9 Updater");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Information);
    EXPECT_FALSE(view.filterChecked());
    // The entries of the interrupted probe are gone.
    EXPECT_EQ(view.ports, test::kAllPorts);
    EXPECT_EQ(view.selectedPort(), 0);
    // The next click turns the filter on and probes again.
    probe.failing = 0;
    discovery.mnuMainFilter_Click();
    EXPECT_TRUE(view.filterChecked());
    EXPECT_EQ(view.ports, (std::vector<std::string>{" 1", "2 - In Use"}));
}

TEST(PortTexts, SummaryAndPermissionAdvice) {
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0";
    const PortIdentity ftdi{"/dev/ttyUSB0", "/dev/ttyUSB0", "",  "FT232R USB UART", "FTDI", "A10K",
                            0x0403,         0x6001,         true};
    PortIdentity viaLink = ftdi;
    viaLink.device = viaLink.byId = byId;
    const std::string adapter = "FT232R USB UART (FTDI, 0403:6001, serial A10K)";
    const std::vector<std::pair<PortIdentity, std::string>> summaries{
        {ftdi, "/dev/ttyUSB0 - " + adapter},
        {viaLink, byId + " -> /dev/ttyUSB0 - " + adapter},
        {PortIdentity{"/dev/ttyUSB3", "", "", "", "", "", {}, {}, false},
         "/dev/ttyUSB3 - not present"},
        // An adapter that names nothing but its ids is still called one.
        {PortIdentity{"/dev/ttyUSB1", "/dev/ttyUSB1", "", "", "", "", 0x1a86, 0x7523, true},
         "/dev/ttyUSB1 - USB serial adapter (1a86:7523)"},
    };
    for (const auto& [id, text] : summaries) {
        EXPECT_EQ(id.summary(), text);
    }
    const std::vector<std::pair<PortAccessReport, std::string>> advice{
        {denied("dialout"), joinText("/dev/ttyUSB0")},
        {denied("dialout", true),
         "You have no permission to use /dev/ttyUSB0 yet. \r\nYou are in its group dialout, but "
         "this session began before you joined it. \r\nLog out and log in again."},
        {denied(""),
         "You have no permission to use /dev/ttyUSB0. \r\nAsk the administrator of this PC for "
         "read and write access to it."},
    };
    for (const auto& [why, text] : advice) {
        EXPECT_EQ(permissionText({"/dev/ttyUSB0"}, why), text);
    }
}

TEST_F(PortListTest, NoAvailablePortTellsPermissionFromBusyAndRefreshKeepsTheNumber) {
    const std::string cause = "/dev/ttyUSB6 is held by minicom (pid 77): close it there.";
    probe.reports = {{5, denied("dialout")}, {6, {PortAccess::Busy, 77, "", false, false, cause}}};
    const std::vector<std::pair<std::map<int, ProbeResult>, std::string>> cases{
        {{{6, InUse}}, kAllInUse},
        {{{5, Denied}}, joinText("/dev/ttyUSB5")},
        {{{5, Denied}, {6, InUse}}, kAllInUse + "\r\n\r\n" + joinText("/dev/ttyUSB5")},
    };
    for (const auto& [results, text] : cases) {
        filterOn(results);
        ASSERT_EQ(view.messages.size(), 1u) << text;
        EXPECT_EQ(view.messages[0].text, text);
    }
    EXPECT_EQ(view.ports, (std::vector<std::string>{"5 - In Use", "6 - In Use"}));
    EXPECT_EQ(view.portTooltips[0],
              "/dev/ttyUSB5 - no permission (group dialout)\r\n" + joinText("/dev/ttyUSB5"));
    EXPECT_EQ(view.portTooltips[1], "/dev/ttyUSB6 - in use by process 77\r\n" + cause);
    // Nothing is selected when all are busy: the first busy one's cause, below the status.
    EXPECT_EQ(view.aside, cause);

    // The selected entry's device beside the list; unfiltered, an absent one says so.
    filterOn({{4, Free}, {5, Denied}});
    EXPECT_EQ(view.portDetail, "/dev/ttyUSB4");
    EXPECT_EQ(view.aside, "");
    discovery.mnuMainFilter_Click();
    EXPECT_EQ(view.portDetail, "/dev/ttyUSB1 - not present");
    EXPECT_EQ(view.portTooltips.size(), 12u);

    // A refresh keeps the number and waits for the run's end.
    const auto plug = [this](std::map<int, ProbeResult> results) {
        probe.results = std::move(results);
        for (int i = 0; i < 3; ++i) {  // the node, its mode, its by-id link
            refresh.devicesChanged();
            loop.advance(50);
        }
        loop.advance(kDeviceSettleMs);
    };
    filterOn({{1, Free}, {3, Free}});
    view.selectPort(1);  // " 3"
    plug({{1, Free}, {2, Free}, {3, Free}});
    EXPECT_EQ(view.ports, (std::vector<std::string>{" 1", " 2", " 3"}));
    EXPECT_EQ(view.selectedPort(), 2);
    plug({{1, Free}, {3, InUse}});
    EXPECT_EQ(view.selectedPort(), 1);  // "3 - In Use"
    plug({{1, Free}});
    EXPECT_EQ(view.selectedPort(), 0);
    EXPECT_EQ(refresh.rebuilds(), 3);
    refresh.runStarted();
    plug({{1, Free}, {4, Free}});
    EXPECT_EQ(view.ports, std::vector<std::string>{" 1"});
    refresh.runEnded();
    EXPECT_EQ(view.ports, (std::vector<std::string>{" 1", " 4"}));
    EXPECT_EQ(refresh.rebuilds(), 4);
    EXPECT_TRUE(view.filterChecked());
    EXPECT_TRUE(view.messages.empty());
}

TEST(PortControlPermission, OpenFailureOfADeniedPortSaysWhatToType) {
    VirtualEventLoop loop;
    test::ScriptedSerialLine serial{loop};
    test::ControllerHarness h{loop, serial};
    DeviceProbe probe;
    probe.reports[3] = denied("dialout");
    h.controller().portControl().setProbe(probe);
    serial.held = {3};
    h.view.ports = {"3 - In Use"};
    h.view.selectPort(0);
    EXPECT_FALSE(h.controller().portControl().OpenComPort());
    ASSERT_EQ(h.view.messages.size(), 1u);
    EXPECT_EQ(h.view.messages[0].text, joinText("/dev/ttyUSB3"));
}

}  // namespace
}  // namespace k9
