// The k9sim program on a real pseudo-terminal, driven with plain POSIX calls, and the refusals of
// its command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <filesystem>
#include <fstream>
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

// k9sim as a child process, its standard output kept as it comes.
class Sim {
  public:
    explicit Sim(const QStringList& args) {
        process_.start(K9SIM_EXE, args);
        process_.waitForStarted(kPatienceMs);
    }
    // Reads until the output holds text; false if the program ended or fell silent first.
    bool waitFor(const std::string& text) {
        while (output_.find(text) == std::string::npos) {
            const bool more = process_.waitForReadyRead(kPatienceMs);
            output_ += process_.readAllStandardOutput().toStdString();
            if (!more && output_.find(text) == std::string::npos) {
                return false;
            }
        }
        return true;
    }
    std::string firstLine() { return waitFor("\n") ? output_.substr(0, output_.find('\n')) : ""; }
    // The exit code once the program ended by itself, -1 if it did not.
    int finish() {
        const bool ended =
            process_.state() == QProcess::NotRunning || process_.waitForFinished(kPatienceMs);
        output_ += process_.readAllStandardOutput().toStdString();
        return ended && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    void stop() { process_.terminate(); }  // SIGTERM
    const std::string& output() const { return output_; }

  private:
    QProcess process_;  // killed if still running at the end
    std::string output_;
};

// The updater's end of the line.
class Port {
  public:
    explicit Port(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios raw{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(fd_, TCSANOW, &raw);
        }
    }
    ~Port() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    void send(const std::string& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything up to and including the first occurrence of text, or all that came before the
    // line died or fell silent.
    std::string expect(const std::string& text) {
        pollfd p{fd_, POLLIN, 0};
        char buf[4096];
        while (buffer_.find(text) == std::string::npos && !hungUp_ &&
               ::poll(&p, 1, kPatienceMs) > 0) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                buffer_.append(buf, static_cast<std::size_t>(n));
            } else {
                hungUp_ = n == 0 || errno != EAGAIN;
            }
        }
        const auto at = buffer_.find(text);
        std::string got = buffer_.substr(0, at == std::string::npos ? at : at + text.size());
        buffer_.erase(0, got.size());
        return got;
    }
    bool hungUp() {
        expect(std::string(1, '\xff'));  // reads until the line dies or falls silent
        return hungUp_;
    }

  private:
    int fd_;
    std::string buffer_;
    bool hungUp_ = false;
};

std::string pathIn(const QTemporaryDir& dir, const char* name) {
    return dir.filePath(name).toStdString();
}

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
        const std::string link = pathIn(dir, "com2");
        const std::string received = pathIn(dir, "received.bin");
        Sim sim(kQuick + QStringList{"--link", link.c_str(), "--received", received.c_str()} +
                (signal ? QStringList{} : QStringList{"--disconnect-at", "2"}));
        ASSERT_EQ(sim.firstLine().rfind("/dev/pts/", 0), 0u);
        Port port(link);
        EXPECT_EQ(port.expect("\r\n"), "#FTPUNK9A1234\r\n");
        port.send(kAck);
        if (signal) {
            EXPECT_EQ(port.expect("\r\n"), "#FTPPW4321A9K\r\n");
            sim.stop();
        } else {
            EXPECT_TRUE(port.hungUp());
        }
        EXPECT_EQ(sim.finish(), signal ? 1 : 0);
        EXPECT_NE(sim.output().find(signal ? "end: stopped, session not completed"
                                           : "[stage 2] line cut at stage 2"),
                  std::string::npos);
        EXPECT_EQ(test::readBytes(received), kAck);
        EXPECT_FALSE(pathExists(link));
    }
}

TEST(K9simProgram, ExitsOneOnATimeOutAndTwoOnABadCommandLine) {
    EXPECT_EQ(Sim({"--answer", "maybe"}).finish(), 2);
    QTemporaryDir dir;
    const std::string received = pathIn(dir, "received.bin");
    Sim lonely({"--timeout", "0.3", "--received", received.c_str()});
    EXPECT_EQ(lonely.finish(), 1);
    EXPECT_NE(lonely.output().find("end: timed out, session not completed"), std::string::npos);
    EXPECT_TRUE(pathExists(received));
    EXPECT_EQ(test::readBytes(received), "");
}

}  // namespace
}  // namespace k9
