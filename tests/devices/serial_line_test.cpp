#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include "devices/port_probe.h"
#include "devices/qt_serial_line.h"
#include "error_number.h"
#include "platform/runtime_error.h"
#include "pty_device.h"

namespace k9 {
namespace {

using test::PtyDevice;

// Reads until `want` bytes arrived, letting Qt deliver them.
std::string readAtLeast(SerialLine& line, std::size_t want) {
    std::string got;
    for (int i = 0; i < 200 && got.size() < want; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        got += line.input();
        if (got.size() < want) {
            QThread::msleep(5);
        }
    }
    return got;
}

TEST(QtSerialLine, OpensAMappedDeviceMovesBytesBothWaysAndFailsReadsWhenUnplugged) {
    PtyDevice pty;
    QtSerialLine line({{3, pty.slavePath()}});
    line.setCommPort(3);
    line.setSettings("38400,N,8,1");
    line.setInputLen(0);
    line.setPortOpen(true);
    ASSERT_TRUE(line.portOpen());

    pty.send("#FTPUN\r\n");
    EXPECT_EQ(readAtLeast(line, 8), "#FTPUN\r\n");
    line.output("\r\n0\r\n");
    EXPECT_EQ(pty.receive(5), "\r\n0\r\n");
    EXPECT_THROW(line.setPortOpen(true), RuntimeError);

    // Unplugged, the device fails reads instead of hanging.
    pty.close();
    EXPECT_EQ(test::errorNumberOf([&] {
                  for (int i = 0; i < 10; ++i) {
                      readAtLeast(line, 1);
                      line.output("x");
                  }
              }),
              err::kPortIo);
    line.setPortOpen(false);  // closing a dead port is quiet
    EXPECT_FALSE(line.portOpen());
    EXPECT_THROW(line.input(), RuntimeError);
}

TEST(QtSerialLine, TellsAMissingPortFromOtherFailures) {
    // Port 1 is not in the map; a mapped device that is missing is port_access_test's.
    QtSerialLine unmapped({{2, "/dev/ttyS1"}});
    EXPECT_EQ(test::errorNumberOf([&] { unmapped.setPortOpen(true); }), err::kInvalidPortNumber);

    PtyDevice pty;
    QtSerialLine holder({{1, pty.slavePath()}});
    holder.setPortOpen(true);
    QtSerialLine second({{1, pty.slavePath()}});
    const std::int32_t held = test::errorNumberOf([&] { second.setPortOpen(true); });
    EXPECT_NE(held, 0) << "a port another line holds must not open";
    EXPECT_NE(held, err::kInvalidPortNumber);
    EXPECT_EQ(QtPortProbe({{1, pty.slavePath()}}).probe(1), ProbeResult::InUse);
    holder.setPortOpen(false);
    EXPECT_EQ(QtPortProbe({{1, pty.slavePath()}}).probe(1), ProbeResult::Free);
    EXPECT_EQ(QtPortProbe({}).probe(1), ProbeResult::Absent);
}

TEST(QtSerialLine, RejectsMalformedSettings) {
    for (const char* bad : {"38400;N;8;1", "fast,N,8,1", "384x0,N,8,1", "38400,X,8,1",
                            "38400,N,9,1", "38400,N,8,3"}) {
        EXPECT_THROW(parseLineSettings(bad), RuntimeError) << bad;
    }
    const LineSettings s = parseLineSettings("38400,n,8,1");
    EXPECT_EQ(s.baud, 38400);
    EXPECT_EQ(s.parity, 'N');
    EXPECT_EQ(parseLineSettings("9600,E,7,2").stopBits, 2);
}

}  // namespace
}  // namespace k9
