#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "controller_harness.h"
#include "platform/port_probe.h"
#include "platform/virtual_event_loop.h"
#include "ports/port_advice.h"
#include "ports/port_control.h"
#include "ports/port_discovery.h"
#include "ports/port_refresh.h"
#include "recording_view.h"
#include "scripted_serial_line.h"

namespace k9 {
namespace {

using test::RecordingView;

// Ports with devices behind them; the rest are absent.
class DeviceProbe final : public PortProbe {
  public:
    ProbeResult probe(int port) override {
        const auto it = results.find(port);
        return it == results.end() ? ProbeResult::Absent : it->second;
    }
    PortIdentity identify(int port) override {
        PortIdentity id;
        id.device = "/dev/ttyUSB" + std::to_string(port);
        id.present = results.count(port) != 0;
        return id;
    }
    PortAccessReport access(int port) override {
        const auto it = reports.find(port);
        return it == reports.end() ? PortAccessReport{} : it->second;
    }

    std::map<int, ProbeResult> results;
    std::map<int, PortAccessReport> reports;
};

PortAccessReport deniedBy(const std::string& group, bool inGroup, bool inSession) {
    PortAccessReport r;
    r.access = PortAccess::NoPermission;
    r.group = group;
    r.userInGroup = inGroup;
    r.sessionHasGroup = inSession;
    return r;
}

std::string joinText(const std::string& device) {
    return "You have no permission to use " + device +
           ". \r\nIt belongs to the group dialout; to join it, type in a terminal: \r\nsudo "
           "usermod -aG dialout $USER\r\nthen log out and log in again.";
}
const std::string kJoin = joinText("/dev/ttyUSB5");
const std::string kAllInUse =
    "No Available Com Ports have been detected. \r\nPlease free a Com/Serial Port for \r\n"
    "the Sentrel K9 to be used.";

TEST(PortIdentity, SummaryNamesTheDeviceAndTheAdapter) {
    PortIdentity ftdi;
    ftdi.device = ftdi.resolved = "/dev/ttyUSB0";
    ftdi.present = true;
    ftdi.description = "FT232R USB UART";
    ftdi.manufacturer = "FTDI";
    ftdi.vendorId = 0x0403;
    ftdi.productId = 0x6001;
    ftdi.serialNumber = "A10K";
    PortIdentity pinned = ftdi;
    pinned.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0";
    PortIdentity viaLink = pinned;
    viaLink.device = pinned.byId;
    PortIdentity plain;
    plain.device = plain.resolved = "/dev/ttyS0";
    plain.present = true;
    PortIdentity gone;
    gone.device = "/dev/ttyUSB3";
    PortIdentity onlyIds;
    onlyIds.device = onlyIds.resolved = "/dev/ttyACM0";
    onlyIds.present = true;
    onlyIds.vendorId = 0x2341;
    onlyIds.productId = 0x0043;

    const std::vector<std::pair<PortIdentity, std::string>> cases{
        {ftdi, "/dev/ttyUSB0 - FT232R USB UART (FTDI, 0403:6001, serial A10K)"},
        {pinned, "/dev/ttyUSB0 - FT232R USB UART (FTDI, 0403:6001, serial A10K) - " + pinned.byId},
        {viaLink,
         pinned.byId + " -> /dev/ttyUSB0 - FT232R USB UART (FTDI, 0403:6001, serial A10K)"},
        {plain, "/dev/ttyS0"},
        {gone, "/dev/ttyUSB3 - not present"},
        {onlyIds, "/dev/ttyACM0 - USB serial adapter (2341:0043)"},
    };
    for (const auto& [id, text] : cases) {
        EXPECT_EQ(id.summary(), text);
    }
}

TEST(PermissionText, SaysWhatRemainsToBeDone) {
    const std::vector<std::pair<PortAccessReport, std::string>> cases{
        {deniedBy("dialout", false, false), joinText("/dev/ttyUSB0")},
        {deniedBy("dialout", true, false),
         "You have no permission to use /dev/ttyUSB0 yet. \r\nYou are in its group dialout, but "
         "this session began before you joined it. \r\nLog out and log in again."},
        {deniedBy("uucp", true, true),
         "You have no permission to use /dev/ttyUSB0. \r\nYou are in its group uucp, but the "
         "device does not let its group read and write it."},
        {deniedBy("", false, false),
         "You have no permission to use /dev/ttyUSB0. \r\nAsk the administrator of this PC for "
         "read and write access to it."},
    };
    for (const auto& [why, text] : cases) {
        EXPECT_EQ(permissionText({"/dev/ttyUSB0"}, why), text);
    }
}

class PortListTest : public ::testing::Test {
  protected:
    void filterOn() {
        view.setFilterChecked(false);
        discovery.mnuMainFilter_Click();
    }

    RecordingView view;
    DeviceProbe probe;
    PortDiscovery discovery{view, probe, "Sentrel K9"};
};

TEST_F(PortListTest, NoAvailablePortTellsPermissionFromBusy) {
    struct Case {
        const char* name;
        std::map<int, ProbeResult> results;
        std::string message;
    };
    const std::string busyTooltip = "/dev/ttyUSB6 - in use by process 77";
    const std::vector<Case> cases{
        {"only busy", {{6, ProbeResult::InUse}}, kAllInUse},
        {"only denied", {{5, ProbeResult::Denied}}, kJoin},
        {"both",
         {{5, ProbeResult::Denied}, {6, ProbeResult::InUse}},
         kAllInUse + "\r\n\r\n" + kJoin},
    };
    probe.reports[5] = deniedBy("dialout", false, false);
    probe.reports[6].holderPid = 77;
    for (const Case& c : cases) {
        probe.results = c.results;
        view.messages.clear();
        filterOn();
        ASSERT_EQ(view.messages.size(), 1u) << c.name;
        EXPECT_EQ(view.messages[0].text, c.message) << c.name;
        EXPECT_EQ(view.messages[0].title, "Sentrel K9 Updater - Com Port Error") << c.name;
    }
    // The designed entries stay; each carries its device.
    EXPECT_EQ(view.ports, (std::vector<std::string>{"5 - In Use", "6 - In Use"}));
    EXPECT_EQ(view.portTooltips[0], "/dev/ttyUSB5 - no permission (group dialout)\r\n" + kJoin);
    EXPECT_EQ(view.portTooltips[1], busyTooltip);
}

TEST_F(PortListTest, SelectedEntryShowsItsDevice) {
    probe.results = {{5, ProbeResult::Free}, {6, ProbeResult::Denied}};
    probe.reports[6] = deniedBy("dialout", false, false);
    filterOn();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.portDetail, "/dev/ttyUSB5");
    view.selectPort(1);
    discovery.cboPort_Click();
    EXPECT_EQ(view.portDetail, "/dev/ttyUSB6 - no permission (group dialout)");

    // Unfiltered, a number without its device says so.
    discovery.mnuMainFilter_Click();
    ASSERT_EQ(view.ports.size(), 12u);
    EXPECT_EQ(view.portTooltips[0], "/dev/ttyUSB1 - not present");
    EXPECT_EQ(view.portTooltips[4], "/dev/ttyUSB5");
    EXPECT_EQ(view.portTooltips.size(), 12u);
}

TEST(PortControlPermission, OpenFailureOfADeniedPortSaysWhatToType) {
    VirtualEventLoop loop;
    test::ScriptedSerialLine serial{loop};
    test::ControllerHarness h{loop, serial};
    DeviceProbe probe;
    probe.reports[3] = deniedBy("dialout", false, false);
    h.controller().portControl().setProbe(probe);
    serial.held = {2, 3};
    const std::string head = "An error has occured while trying to connect to the \r\n";
    const std::string advice = joinText("/dev/ttyUSB3");
    const std::vector<std::pair<std::string, std::string>> cases{
        {"3 - In Use", advice},
        {" 3", advice},
        {"2 - In Use", head + "selected COM port, it is already in use, try a different port."},
        {" 2", head + "selected COM port, \r\ntry a different port number."},
    };
    for (const auto& [entry, text] : cases) {
        h.view.ports = {entry};
        h.view.selectPort(0);
        h.view.messages.clear();
        EXPECT_FALSE(h.controller().portControl().OpenComPort()) << entry;
        ASSERT_EQ(h.view.messages.size(), 1u) << entry;
        EXPECT_EQ(h.view.messages[0].text, text) << entry;
    }
}

class PortRefreshTest : public PortListTest {
  protected:
    // The devices as the refresh sees them: what the probe reports.
    std::string signature() {
        std::string text;
        for (const auto& [port, result] : probe.results) {
            text += std::to_string(port) + ":" + std::to_string(static_cast<int>(result)) + ";";
        }
        return text;
    }
    void plug(std::map<int, ProbeResult> results) {
        probe.results = std::move(results);
        // A plug-in is a burst of changes: the node, its mode, its by-id link.
        for (int i = 0; i < 3; ++i) {
            refresh.devicesChanged();
            loop.advance(50);
        }
        loop.advance(kDeviceSettleMs);
    }

    VirtualEventLoop loop;
    PortRefresh refresh{loop, view, discovery, [this] { return signature(); }};
};

TEST_F(PortRefreshTest, RebuildsOnceAChangeSettlesKeepingTheSelectedNumber) {
    probe.results = {{1, ProbeResult::Free}, {3, ProbeResult::Free}};
    filterOn();
    view.selectPort(1);  // " 3"
    struct Step {
        const char* name;
        std::map<int, ProbeResult> results;
        std::vector<std::string> entries;
        int selected;
        int rebuilds;
    };
    const std::vector<Step> steps{
        {"plugged below",
         {{1, ProbeResult::Free}, {2, ProbeResult::Free}, {3, ProbeResult::Free}},
         {" 1", " 2", " 3"},
         2,
         1},
        {"now held", {{1, ProbeResult::Free}, {3, ProbeResult::InUse}}, {" 1", "3 - In Use"}, 1, 2},
        {"unplugged", {{1, ProbeResult::Free}}, {" 1"}, 0, 3},
        {"nothing of ours changed", {{1, ProbeResult::Free}}, {" 1"}, 0, 3},
        {"all gone", {}, {}, -1, 4},
    };
    for (const Step& s : steps) {
        plug(s.results);
        EXPECT_EQ(view.ports, s.entries) << s.name;
        EXPECT_EQ(view.selectedPort(), s.selected) << s.name;
        EXPECT_EQ(refresh.rebuilds(), s.rebuilds) << s.name;
    }
    // The filter stayed as it was, and nobody was asked anything.
    EXPECT_TRUE(view.filterChecked());
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(PortRefreshTest, WaitsForTheEndOfARun) {
    probe.results = {{1, ProbeResult::Free}};
    filterOn();
    refresh.runStarted();
    plug({{1, ProbeResult::Free}, {2, ProbeResult::Free}});
    plug({{1, ProbeResult::Free}, {2, ProbeResult::Free}, {4, ProbeResult::Free}});
    EXPECT_EQ(view.ports, std::vector<std::string>{" 1"});
    EXPECT_EQ(refresh.rebuilds(), 0);
    refresh.runEnded();
    EXPECT_EQ(view.ports, (std::vector<std::string>{" 1", " 2", " 4"}));
    EXPECT_EQ(refresh.rebuilds(), 1);
}

}  // namespace
}  // namespace k9
