// Whole runs against vsftpd, a Unix server that converts line ends in ASCII transfers, where
// our own test server moves the bytes unchanged. Skipped where vsftpd cannot run.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "controller_harness.h"
#include "run_texts.h"
#include "sim_serial_line.h"
#include "sim_unit.h"
#include "vsftpd_server.h"

namespace k9 {
namespace {

using namespace test;

// vsftpd's anonymous login; a valid serial number too.
const std::string kSerial = "FTP";

std::string storedLines(const std::string& lineEnd) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += "51." + std::to_string(20000 + i) + ",-0.3,CAM,30,UNIX" + std::to_string(i);
        text += i == 20 ? lineEnd + lineEnd : lineEnd;  // one real empty line
    }
    return text;
}

// However the server stores the file's lines (CR LF; LF as Unix does; CR CR LF, which is what
// a production server sent us for CR LF), the unit gets each line once with CR LF, and the
// driver's locations arrive whole and leave nothing kept.
TEST(SecondServerRun, TheUnitGetsExactlyTheStoredLines) {
    std::unique_ptr<VsftpdServer> server;
    try {
        server = std::make_unique<VsftpdServer>();
    } catch (const std::runtime_error& e) {
        GTEST_SKIP() << "vsftpd cannot run on this machine: " << e.what();
    }
    for (const std::string lineEnd : {"\r\n", "\n", "\r\r\n"}) {
        SCOPED_TRACE(lineEnd == "\n" ? "LF" : lineEnd == "\r\n" ? "CR LF" : "CR CR LF");
        server->putFile("LocationsLite.txt", storedLines(lineEnd));
        VirtualEventLoop loop;
        SimUnit unit({.serial = kSerial,
                      .locations = "52.00001,-1.00002,40,USER\r\n53.00001,-2.00002,50,USER\r\n",
                      .saveMs = 3000});
        SimSerialLine line(loop, unit, 1);
        test::ControllerHarness h(loop, line, server->hostPort());
        h.controller().cmdGo_Click();

        EXPECT_EQ(h.view.status, kUpdated);
        EXPECT_TRUE(h.view.messages.empty());
        EXPECT_EQ(unit.received(), kHandshake + storedLines("\r\n") + kEnd + kDone + kAck + kDone);
        EXPECT_EQ(h.controller().lastRun().lineCount, 41);
        EXPECT_EQ(h.controller().lastRun().linesSent, 41);
        // Stored the Unix way, with LF: still counted as arrived whole.
        EXPECT_EQ(server->readFile(kSerial + ".txt"),
                  "52.00001,-1.00002,40,USER\n53.00001,-2.00002,50,USER\n\n");
        EXPECT_FALSE(h.workFileExists(kSerial + ".txt"));
    }
}

}  // namespace
}  // namespace k9
