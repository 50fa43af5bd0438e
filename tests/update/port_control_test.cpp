#include <gtest/gtest.h>

#include "controller_harness.h"
#include "ports/port_control.h"
#include "scripted_serial_line.h"

namespace k9 {
namespace {

using namespace test;

const std::string kHead = "An error has occured while trying to connect to the \r\n";

class PortControlTest : public ::testing::Test {
  protected:
    VirtualEventLoop loop;
    ScriptedSerialLine serial{loop};
    ControllerHarness h{loop, serial};
    PortControl& port = h.controller().portControl();
};

TEST_F(PortControlTest, OpensTheSelectedPortWithTheUnitsLineSettings) {
    h.view.selectPort(2);  // " 3"
    EXPECT_TRUE(port.OpenComPort());
    EXPECT_TRUE(serial.portOpen());
    EXPECT_EQ(serial.commPort(), 3);
    EXPECT_EQ(serial.settings(), "38400,N,8,1");
    EXPECT_EQ(serial.inputLen, 0);
    EXPECT_EQ(h.view.caption(Caption::PortState), "Port Open");
    EXPECT_TRUE(h.view.messages.empty());
    // Already open: nothing changes.
    EXPECT_TRUE(port.OpenComPort());
    EXPECT_EQ(serial.opens, 1);
}

// The empty entry: no selection beside a port that would open, which must stay closed.
TEST_F(PortControlTest, EachKindOfFailureHasItsOwnMessage) {
    serial.held = {2};
    const std::vector<std::pair<std::string, std::string>> cases{
        {"3 - In Use", kHead + "selected COM port, it is already in use, try a different port."},
        {" 7", kHead + "selected COM port, try a different port number."},
        {" 2", kHead + "selected COM port, \r\ntry a different port number."},
        {"99999", kHead + "selected COM port, \r\ntry a different port number."},
        {"", kHead + "selected COM port, try a different port number."},
    };
    for (const auto& [entry, text] : cases) {
        SCOPED_TRACE(entry);
        h.view.clearPorts();
        h.view.addPort(entry.empty() ? " 1" : entry);
        h.view.selectPort(entry.empty() ? -1 : 0);
        h.view.messages.clear();
        EXPECT_FALSE(port.OpenComPort());
        ASSERT_EQ(h.view.messages.size(), 1u);
        const Message& m = h.view.messages[0];
        EXPECT_EQ(std::tie(m.text, m.title, m.icon), std::tuple(text, "", MessageIcon::None));
        EXPECT_EQ(serial.opens, 0);
        EXPECT_FALSE(serial.portOpen());
        EXPECT_EQ(h.view.caption(Caption::PortState), "Port Closed");
        // A run that cannot open its port leaves the window idle.
        h.view.messages.clear();
        h.controller().cmdGo_Click();
        EXPECT_EQ(h.view.messages.size(), 1u);
        EXPECT_TRUE(h.view.idle());
        EXPECT_TRUE(h.view.statusHistory.empty());
        EXPECT_EQ(h.state().mFTP, nullptr);
    }
}

TEST_F(PortControlTest, ClosingWhenIdleOnlyAppliesTheIdleSettingsAgain) {
    h.view.setEnabled(Control::Go, false);
    // A timer left running would tick into the idle window.
    MainTimers& timers = h.controller().context().timers;
    timers.tmrCheck->setEnabled(true);
    timers.tmrUserUpload->setEnabled(true);
    port.ClosePortAndReset();
    EXPECT_FALSE(timers.tmrCheck->enabled());
    EXPECT_FALSE(timers.tmrUserUpload->enabled());
    EXPECT_TRUE(h.view.idle());
    EXPECT_EQ(h.view.fontSize, 14);
    EXPECT_EQ(h.state().iStage, 1);
    EXPECT_TRUE(h.state().blnStopped);
    EXPECT_TRUE(h.view.messages.empty());
    EXPECT_EQ(h.view.caption(Caption::Dots), "");
}

TEST_F(PortControlTest, APortThatWillNotCloseAtTheStartOfARunIsReported) {
    ASSERT_TRUE(port.OpenComPort());
    serial.closeFails = true;
    h.controller().cmdGo_Click();
    ASSERT_EQ(h.view.messages.size(), 1u);
    EXPECT_EQ(h.view.messages[0].title, "Com Port Open Error");
    EXPECT_EQ(h.view.messages[0].text,
              "Com Port 1 is already in use. If it is being used by another program, select "
              "another com port and retry. If it is in use by the Sentrel K9 Updater program "
              "please exit the program.and try again");
    EXPECT_EQ(h.view.status, "Sentrel K9 updating unsuccessful");
    EXPECT_TRUE(h.view.idle());
}

}  // namespace
}  // namespace k9
