// A whole update in real time: the controller on Qt's event loop and serial stack, the
// simulator program on a pseudo-terminal, and a local FTP server.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "local_ftp_server.h"
#include "platform/qt_event_loop.h"
#include "platform/qt_serial_line.h"
#include "recording_view.h"
#include "transfer/cftp.h"
#include "update/main_controller.h"

namespace k9 {
namespace {

std::string readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(RunOverPseudoTerminal, UpdatesTheUnitAndUploadsItsLocations) {
    const std::string serial = "K9E2E01";
    std::string file;
    for (int i = 0; i < 100; ++i) {
        file += "52." + std::to_string(100000 + i) + ",-1.50000,CAM,40,E2E\r\n";
    }
    const std::string locations = "51.11111,-0.22222,30,HOME\r\n51.33333,-0.44444,30,WORK\r\n";
    LocalFtpServer server({{serial, "10E2E9K", serial}});
    server.putFile(serial, "LocationsLite.txt", file);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath("ttyK9");
    const QString received = dir.filePath("received.bin");
    const QString stored = dir.filePath("stored.txt");
    std::ofstream(stored.toStdString(), std::ios::binary) << locations;

    QProcess sim;
    sim.start(K9SIM_PATH, {"--serial", QString::fromStdString(serial), "--link", link, "--received",
                           received, "--answer", "yes", "--locations", stored, "--start-ms", "300",
                           "--reply-ms", "100", "--save-ms", "500", "--timeout", "120"});
    ASSERT_TRUE(sim.waitForStarted(10000));
    ASSERT_TRUE(sim.waitForReadyRead(10000));
    ASSERT_FALSE(sim.readLine().trimmed().isEmpty());

    QtEventLoop loop;
    QtSerialLine line({{1, link.toStdString()}});
    test::RecordingView view;
    view.addPort(" 1");
    view.selectPort(0);
    view.selectFile(0);
    AppConfig config;
    config.ftpHost = server.hostPort();
    MainController controller(loop, view, line, config,
                              [&loop] { return std::make_shared<cFTP>(loop); });
    controller.vars().sTempFolder = dir.path().toStdString() + "/";
    controller.state().sTempFile = "temp.qk";
    controller.cmdGo_Click();

    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.status,
              "Sentrel K9 updated. \r\nClose this program and disconnect K9 from your PC.");
    EXPECT_EQ(controller.state().sFtpPassword, "10E2E9K");
    EXPECT_FALSE(line.portOpen());
    EXPECT_EQ(server.readFile(serial, serial + ".txt"), locations + "\r\n");
    EXPECT_FALSE(QFile::exists(dir.filePath("temp.qk")));

    // The event loop of the run may already have seen the simulator end.
    const bool finished = sim.state() == QProcess::NotRunning || sim.waitForFinished(20000);
    if (!finished) {
        sim.terminate();
        sim.waitForFinished(5000);
    }
    ASSERT_TRUE(finished) << sim.readAll().toStdString();
    EXPECT_EQ(sim.exitCode(), 0) << sim.readAll().toStdString();
    // The handshake in order, the file as it is on the server, then the closing codes.
    EXPECT_EQ(readFile(received), "\r\n0\r\n\r\n0\r\n\r\n0\r\n\r\n150\r\n" + file +
                                      "\x03\r\n\r\n368\r\n\r\n0\r\n\r\n368\r\n");
}

}  // namespace
}  // namespace k9
