// The k9sim program on a real pseudo-terminal, driven with plain POSIX calls, and the refusals of
// its command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "sim_command_line.h"

namespace k9 {
namespace {

// Only a guard against a hang: the longest silence we wait through.
constexpr int kPatienceMs = 20'000;

const std::string kAck = "\r\n0\r\n";
// Short waits, so a whole session takes a fraction of a second; the time-out is a guard.
const QStringList kQuick = {"--start-ms", "50", "--reply-ms", "10",
                            "--save-ms",  "20", "--timeout",  "30"};

bool pathExists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

// Starts k9sim; returns the first line it prints, the unit's device.
std::string startSim(QProcess& sim, const QStringList& args) {
    sim.start(K9SIM_EXE, args);
    sim.waitForReadyRead(kPatienceMs);
    return sim.readLine().toStdString();
}

// The exit code once the program ended by itself (-1 if it did not), with all it printed.
int finish(QProcess& sim, std::string& output) {
    const bool ended = sim.state() == QProcess::NotRunning || sim.waitForFinished(kPatienceMs);
    output = sim.readAllStandardOutput().toStdString();
    return ended && sim.exitStatus() == QProcess::NormalExit ? sim.exitCode() : -1;
}

// The updater's end of the line, raw.
struct Port {
    explicit Port(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios raw{};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    ~Port() { ::close(fd); }
    // Byte by byte up to the end of `text`, or all that came before the line died or fell silent.
    std::string expect(const std::string& text) {
        std::string got;
        pollfd p{fd, POLLIN, 0};
        char c = 0;
        while (!got.ends_with(text) && ::poll(&p, 1, kPatienceMs) > 0) {
            if (::read(fd, &c, 1) != 1) {
                hungUp = true;
                break;
            }
            got += c;
        }
        return got;
    }
    int fd;
    bool hungUp = false;
};

TEST(K9simCommandLine, RefusesWhatMakesNoSense) {
    const std::vector<std::string> refused[] = {
        {"--answer", "maybe"}, {"--drop", "5"},         {"--silent-from", "9"},
        {"--save-ms", "-1"},   {"--timeout", "soon"},   {"--serial", ""},
        {"--serial"},          {"--flood=1"},           {"--frobnicate"},
        {"--merge", "1"},      {"--disconnect-at", "0"}};
    for (const auto& args : refused) {
        EXPECT_NE(parseSimCommandLine(args).error, "") << args[0];
    }
    // Values after '=' and decimal seconds are taken.
    const SimCommandLine cl = parseSimCommandLine({"--answer=never", "--timeout", "2.5"});
    EXPECT_EQ(cl.error, "");
    EXPECT_EQ(cl.options.answer, OfferAnswer::kNever);
    EXPECT_EQ(cl.timeoutMs, 2500);
}

// The unit hangs up by its disconnect fault, which plays its script out, or a stop signal ends it
// half way; either way the link goes and what the unit received is kept.
TEST(K9simProgram, HangsUpOnItsDisconnectFaultAndStopsOnASignal) {
    for (const bool signal : {false, true}) {
        SCOPED_TRACE(signal ? "stop signal" : "disconnect fault");
        QTemporaryDir dir;
        const std::string link = dir.filePath("com2").toStdString();
        const std::string received = dir.filePath("received.bin").toStdString();
        QProcess sim;
        const QStringList fault = signal ? QStringList{} : QStringList{"--disconnect-at", "2"};
        const std::string device =
            startSim(sim, kQuick + fault +
                              QStringList{"--link", link.c_str(), "--received", received.c_str()});
        ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
        Port port(link);
        EXPECT_EQ(port.expect("\r\n"), "#FTPUNK9A1234\r\n");
        ASSERT_EQ(::write(port.fd, kAck.data(), kAck.size()), static_cast<ssize_t>(kAck.size()));
        if (signal) {
            EXPECT_EQ(port.expect("\r\n"), "#FTPPW4321A9K\r\n");
            sim.terminate();
        } else {
            port.expect("\xff");  // reads until the line dies
            EXPECT_TRUE(port.hungUp);
        }
        std::string output;
        EXPECT_EQ(finish(sim, output), signal ? 1 : 0);
        EXPECT_NE(output.find(signal ? "end: stopped, session not completed"
                                     : "[stage 2] line cut at stage 2"),
                  std::string::npos);
        EXPECT_EQ(test::readBytes(received), kAck);
        EXPECT_FALSE(pathExists(link));
    }
}

TEST(K9simProgram, ExitsOneOnATimeOutAndTwoOnABadCommandLine) {
    QProcess bad, lonely;
    std::string output;
    startSim(bad, {"--answer", "maybe"});
    EXPECT_EQ(finish(bad, output), 2);
    QTemporaryDir dir;
    const std::string received = dir.filePath("received.bin").toStdString();
    startSim(lonely, {"--timeout", "0.3", "--received", received.c_str()});
    EXPECT_EQ(finish(lonely, output), 1);
    EXPECT_NE(output.find("end: timed out, session not completed"), std::string::npos);
    EXPECT_TRUE(pathExists(received));
    EXPECT_EQ(test::readBytes(received), "");
}

}  // namespace
}  // namespace k9
