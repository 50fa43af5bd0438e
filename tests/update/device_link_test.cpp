#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "controller_harness.h"
#include "run_texts.h"
#include "scripted_serial_line.h"
#include "update/device_link.h"
#include "update/location_upload.h"

namespace k9 {
namespace {

using namespace test;

class DeviceLinkTest : public ::testing::Test {
  protected:
    VirtualEventLoop loop;
    ScriptedSerialLine serial{loop};
    ControllerHarness h{loop, serial};
};

TEST_F(DeviceLinkTest, FullHandshakeAnswersEachKeywordAndBuildsTheLogin) {
    serial.arriveAfter(1000, "noise #FTPUNab12");  // no CR yet: not accepted
    serial.arriveAfter(5000, "cd5\r\n");
    // After each of the first three acknowledgements: a keyword, and later its line end.
    const std::vector<std::tuple<std::string, int, std::string>> replies{
        {"#FTPPW", 0, ""},
        {"#FTPFILEP /k9/db", 2500, "\r"},
        {"#FTPGET LocationsLite.txt", 4000, "\n\r"}};
    serial.onWrite = [&, step = 0u](const std::string& bytes) mutable {
        if (step < replies.size()) {
            const auto& [keyword, endAfter, end] = replies[step++];
            serial.arriveAfter(500, keyword);
            serial.arriveAfter(endAfter, end);
        } else if (bytes == kGet) {
            h.closeAt(loop.tickMs() + 1);
        }
    };
    h.view.selectFile(1);
    h.controller().cmdGo_Click();

    EXPECT_EQ(h.state().sSerialNumber, "AB12CD5");
    EXPECT_EQ(h.state().sFtpPassword, "5DC21BA");
    EXPECT_EQ(h.state().sRemoteFile, "LocationsFull.txt");
    EXPECT_TRUE(h.view.hasStatus("K9 Serial Number: AB12CD5"));
    // "#FTPPW" passed alone; "#FTPFILEP" and "#FTPGET" waited for their CR, not an LF.
    EXPECT_EQ(serial.written(), kAck + kAck + kAck + kGet);
    EXPECT_GE(serial.writes[2].first - serial.writes[1].first, 4000);
    EXPECT_GE(serial.writes[3].first - serial.writes[2].first, 4000);
    EXPECT_EQ(serial.writes.front().first / 2001, 3);  // read on the pass after the CR came
    EXPECT_NE(std::find(h.view.progressHistory.begin(), h.view.progressHistory.end(), 5),
              h.view.progressHistory.end());
    EXPECT_EQ(h.view.progressHistory.back(), 10);
    EXPECT_EQ(h.view.status, "Sentrel K9 update stopped.");
    EXPECT_TRUE(h.view.idle());
}

TEST_F(DeviceLinkTest, SilenceInStageThreeKeepsTheLinkAliveThenGivesUpWithoutTheHint) {
    serial.arriveAfter(100, "#FTPUNK9A1234\r\n");
    std::int64_t stage3From = -1;
    serial.onWrite = [&](const std::string& bytes) {
        if (bytes == kAck && serial.writes.size() == 1) {
            EXPECT_EQ(h.view.fontSize, 14);  // the serial number's size, from 12 at the start
            serial.arriveAfter(300, "#FTPPW");
        } else if (bytes == kAck && serial.writes.size() == 2) {
            stage3From = loop.tickMs();
        }
    };
    h.controller().cmdGo_Click();
    ASSERT_GE(stage3From, 0);
    // Ten keep-alives, one per 5 s tick, then the end.
    EXPECT_EQ(
        std::count_if(serial.writes.begin(), serial.writes.end(),
                      [&](const auto& w) { return w.first > stage3From && w.second == kAck; }),
        10);
    for (std::size_t i = 3; i < serial.writes.size(); ++i) {
        EXPECT_EQ(serial.writes[i].first - serial.writes[i - 1].first, 5000) << i;
    }
    EXPECT_EQ(h.view.status, kNoAnswer);
    EXPECT_GE(loop.tickMs() - stage3From, 50000);
    EXPECT_LT(loop.tickMs() - stage3From, 53000);
    EXPECT_TRUE(h.view.idle());
}

TEST(SerialNumber, IsCutAfterTheFirstFtpunUpToItsLineEnd) {
    EXPECT_EQ(cutSerialNumber("#FTPUNK9A1234\r\n"), "K9A1234");
    EXPECT_EQ(cutSerialNumber("xx#FTPUNk9a12345678\r"), "K9A1234");
    EXPECT_EQ(cutSerialNumber("#FTPUNab1\r\n#FTPPW"), "AB1");
    EXPECT_EQ(cutSerialNumber("#FTPUNab1\nrest"), "AB1");
    EXPECT_EQ(cutSerialNumber("FTPUN#FTPUNAB"), "#FTPUNA");
    EXPECT_EQ(cutSerialNumber("#FTPUN"), "");
    EXPECT_EQ(cutSerialNumber("nothing"), "");
    EXPECT_TRUE(isValidSerialNumber("K9-A_12"));
    EXPECT_FALSE(isValidSerialNumber(""));
    EXPECT_FALSE(isValidSerialNumber("#FTPUNA"));
    EXPECT_FALSE(isValidSerialNumber("A B"));
    EXPECT_FALSE(isValidSerialNumber("..\\x"));
    EXPECT_FALSE(isValidSerialNumber("12345678"));
    // Letters beyond ASCII are not letters here, whatever the locale says.
    EXPECT_FALSE(isValidSerialNumber("K9\xc4\xe9"));
    EXPECT_EQ(cutSerialNumber(std::string("#FTPUNk9\xe4") + "b\r"), std::string("K9\xe4") + "B");
}

TEST(Locations, AreTheTextBeforeTheEtxThatEndsThemExactlyAsReceived) {
    std::string out;
    EXPECT_FALSE(extractLocations("51.5,-0.1,30\x03", out));
    ASSERT_TRUE(extractLocations("51.5,-0.1,30\x03x,USER\r\n\x03\r\n\x03\n", out));
    EXPECT_EQ(out, "51.5,-0.1,30\x03x,USER\r\n");
}

}  // namespace
}  // namespace k9
