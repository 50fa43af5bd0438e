#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/app_config.h"

namespace k9 {
namespace {

// COM1-4 are the built-in ports, COM5-8 USB adapters, COM9-12 USB modems' serial ports.
TEST(AppConfig, DefaultPortsFollowLinuxNames) {
    const AppConfig config = parseAppConfig("");
    EXPECT_TRUE(config.workDir.empty());
    EXPECT_EQ(config.devicePath(1), "/dev/ttyS0");
    EXPECT_EQ(config.devicePath(4), "/dev/ttyS3");
    EXPECT_EQ(config.devicePath(5), "/dev/ttyUSB0");
    EXPECT_EQ(config.devicePath(9), "/dev/ttyACM0");
    EXPECT_EQ(config.devicePath(12), "/dev/ttyACM3");
    EXPECT_EQ(config.devicePath(13), "");
}

TEST(AppConfig, ReadsKeysAndThePortSectionIgnoringJunk) {
    const AppConfig config = parseAppConfig(
        "# comment\r\n"
        "ftp_host = 127.0.0.1:2121\r\n"
        "web_host=example.test\n"
        "colour=blue\n"
        "this line has no equals sign\n"
        "work_dir=/tmp/k9\n"
        "[ports]\n"
        "COM1=/tmp/k9/ttyK9\n"
        "com12 = /dev/ttyUSB7\n"
        "COM0=/dev/null\n"
        "COMX=/dev/null\n"
        "LPT1=/dev/lp0\n"
        "[other]\n"
        "ftp_host=ignored.example\n"
        "[broken\n"
        "COM2=/dev/ignored\n");
    EXPECT_EQ(config.ftpHost, "127.0.0.1:2121");
    EXPECT_EQ(config.webHost, "example.test");
    EXPECT_EQ(config.workDir, "/tmp/k9");
    EXPECT_EQ(config.devicePath(1), "/tmp/k9/ttyK9");
    EXPECT_EQ(config.devicePath(12), "/dev/ttyUSB7");
    EXPECT_EQ(config.devicePath(2), "/dev/ttyS1");
    EXPECT_EQ(config.ports.count(0), 0u);
}

}  // namespace
}  // namespace k9
