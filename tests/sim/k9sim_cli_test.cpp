#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/qt_serial_line.h"
#include "sim_command_line.h"

extern char** environ;

namespace k9 {
namespace {

using Clock = std::chrono::steady_clock;
// Only a guard against a hang; nothing here measures time.
constexpr auto kPatience = std::chrono::seconds(20);

const std::string kAck = "\r\n0\r\n";
const std::string kGetReply = "\r\n150\r\n";
const std::string kDone = "\r\n368\r\n";

// A scratch folder removed with its files at the end of the test.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        pattern += "/k9sim-test-XXXXXX";
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ScratchDir() {
        for (const auto& f : files_) {
            ::unlink(f.c_str());
        }
        ::rmdir(path_.c_str());
    }
    std::string file(const std::string& name) {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }

  private:
    std::string path_;
    std::vector<std::string> files_;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// k9sim as a child process; its standard output comes through a pipe.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), K9SIM_EXE);
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    // The next line of output, or "" at the end or when the program stays silent too long.
    std::string line() {
        const auto end = Clock::now() + kPatience;
        for (;;) {
            if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string l = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                seen_ += l + '\n';
                return l;
            }
            if (Clock::now() > end || !readMore()) {
                return {};
            }
        }
    }
    // Reads lines until one contains text; false if the output ended first.
    bool waitForLine(const std::string& text) {
        for (std::string l = line(); !l.empty(); l = line()) {
            if (l.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    // Reads the rest of the output and returns the exit status (-1 if it did not exit).
    int finish() {
        while (!line().empty()) {
        }
        int status = 0;
        const pid_t pid = std::exchange(pid_, -1);
        if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
            return -1;
        }
        return WEXITSTATUS(status);
    }
    void signal(int sig) { ::kill(pid_, sig); }
    const std::string& output() const { return seen_; }
    bool started() const { return pid_ > 0; }

  private:
    bool readMore() {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            return true;
        }
        char buf[4096];
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n <= 0) {
            return false;
        }
        buffer_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffer_;
    std::string seen_;
};

// The updater's end of the line with plain POSIX calls.
class Slave {
  public:
    explicit Slave(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios raw{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(fd_, TCSANOW, &raw);
        }
    }
    ~Slave() { close(); }
    bool isOpen() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    void send(const std::string& bytes) {
        sent += bytes;
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything up to and including the first occurrence of text.
    std::string expect(const std::string& text) {
        const auto end = Clock::now() + kPatience;
        while (buffer_.find(text) == std::string::npos && Clock::now() < end && !hungUp_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char buf[4096];
                const ssize_t n = ::read(fd_, buf, sizeof buf);
                if (n > 0) {
                    buffer_.append(buf, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EAGAIN) {
                    hungUp_ = true;
                }
            }
        }
        const auto at = buffer_.find(text);
        if (at == std::string::npos) {
            return "(not received: " + text + ")";
        }
        std::string got = buffer_.substr(0, at + text.size());
        buffer_.erase(0, got.size());
        return got;
    }
    bool hungUp() {
        expect(std::string(1, '\xff'));  // reads until the line dies or patience runs out
        return hungUp_;
    }

    std::string sent;

  private:
    int fd_ = -1;
    std::string buffer_;
    bool hungUp_ = false;
};

// The updater's end through the serial stack the updater uses.
std::string readFromPort(QtSerialLine& line, const std::string& text) {
    std::string got;
    const auto end = Clock::now() + kPatience;
    while (got.find(text) == std::string::npos && Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        got += line.input();
    }
    return got;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

// Short waits, so a whole session takes a fraction of a second; the time-out is a guard.
const std::vector<std::string> kQuick =
    words("--start-ms 50 --reply-ms 10 --save-ms 20 --timeout 30");

std::vector<std::string> quick(std::vector<std::string> more) {
    more.insert(more.begin(), kQuick.begin(), kQuick.end());
    return more;
}

TEST(K9simCommandLine, MapsEveryOptionOntoTheUnit) {
    const SimCommandLine cl = parseSimCommandLine(words(
        "--serial K9B7777 --answer=never --locations loc.txt --received rx.bin --link /tmp/com1 "
        "--timeout 2.5 --start-ms 10 --reply-ms 20 --retry-ms 0 --save-ms 40 --silent-from 8 "
        "--drop 7 --late 8 --late-ms 50 --garbage-before 1 --garbage-instead 4 --no-cr 3 "
        "--split 7 --split-ms 900 --merge 2 --bad-serial --disconnect-at 6 "
        "--disconnect-after-lines 9 --flood --no-final-done"));
    ASSERT_EQ(cl.error, "");
    const SimOptions& o = cl.options;
    EXPECT_EQ(o.serial, "K9B7777");
    EXPECT_EQ(o.answer, OfferAnswer::kNever);
    EXPECT_EQ(cl.locationsFile, "loc.txt");
    EXPECT_EQ(cl.receivedFile, "rx.bin");
    EXPECT_EQ(cl.linkPath, "/tmp/com1");
    EXPECT_EQ(cl.timeoutMs, 2500);
    EXPECT_EQ(o.startDelayMs, 10);
    EXPECT_EQ(o.replyDelayMs, 20);
    EXPECT_EQ(o.retryMs, 0);
    EXPECT_EQ(o.saveMs, 40);
    EXPECT_EQ(o.silentFromStage, 8);
    EXPECT_EQ(o.dropKeywordStage, 7);
    EXPECT_EQ(o.lateKeywordStage, 8);
    EXPECT_EQ(o.lateByMs, 50);
    EXPECT_EQ(o.garbageBeforeStage, 1);
    EXPECT_EQ(o.garbageInsteadStage, 4);
    EXPECT_EQ(o.noCrStage, 3);
    EXPECT_EQ(o.splitKeywordStage, 7);
    EXPECT_EQ(o.splitGapMs, 900);
    EXPECT_EQ(o.mergedKeywordStage, 2);
    EXPECT_EQ(o.serialFault, SerialFault::kInvalidChars);
    EXPECT_EQ(o.disconnectAtStage, 6);
    EXPECT_EQ(o.disconnectAfterLines, 9);
    EXPECT_TRUE(o.flood);
    EXPECT_FALSE(o.expectFinalDone);
    EXPECT_FALSE(cl.help);

    const SimCommandLine plain = parseSimCommandLine({});
    EXPECT_EQ(plain.error, "");
    EXPECT_EQ(plain.options.serial, "K9A1234");
    EXPECT_EQ(plain.timeoutMs, -1);
    EXPECT_TRUE(parseSimCommandLine({"--help"}).help);
}

TEST(K9simCommandLine, RefusesWhatMakesNoSense) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--answer", "maybe"},
             {"--drop", "5"},
             {"--merge", "1"},
             {"--silent-from", "9"},
             {"--disconnect-at", "0"},
             {"--disconnect-after-lines", "0"},
             {"--save-ms", "-1"},
             {"--timeout", "soon"},
             {"--serial", ""},
             {"--serial"},
             {"--flood=1"},
             {"--frobnicate"},
         }) {
        EXPECT_NE(parseSimCommandLine(args).error, "") << args[0];
    }
}

TEST(K9simProgram, HelpBadOptionsAndNobodyListening) {
    SimProcess help({"--help"});
    ASSERT_TRUE(help.started());
    EXPECT_EQ(help.line().rfind("Usage: k9sim", 0), 0u);
    EXPECT_EQ(help.finish(), 0);

    SimProcess wrong({"--answer", "maybe"});
    EXPECT_EQ(wrong.finish(), 2);

    ScratchDir dir;
    const std::string received = dir.file("received.bin");
    SimProcess lonely({"--timeout", "0.3", "--received", received});
    EXPECT_EQ(lonely.line().rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(lonely.finish(), 1);
    EXPECT_NE(lonely.output().find("end: timed out, session not completed"), std::string::npos);
    EXPECT_TRUE(pathExists(received));
    EXPECT_EQ(readFile(received), "");
}

TEST(K9simProgram, PlaysAWholeSessionOnAPseudoTerminal) {
    ScratchDir dir;
    const std::string link = dir.file("com1");
    const std::string received = dir.file("received.bin");
    const std::string locations = dir.file("locations.txt");
    std::ofstream(locations, std::ios::binary) << "TEST,1,2\r\nTEST,3,4\r\n";
    SimProcess sim(quick(
        {"--link", link, "--received", received, "--locations", locations, "--serial", "K9C0001"}));
    const std::string slavePath = sim.line();
    ASSERT_EQ(slavePath.rfind("/dev/pts/", 0), 0u);
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(slavePath, target);

    Slave port(link);
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(port.expect("\r\n"), "#FTPUNK9C0001\r\n");
    port.send(kAck);
    EXPECT_EQ(port.expect("\r\n"), "#FTPPW1000C9K\r\n");
    port.send(kAck);
    EXPECT_EQ(port.expect("\r\n"), "#FTPFILEP/k9/update/\r\n");
    port.send(kAck);
    EXPECT_EQ(port.expect("\r\n"), "#FTPGETK9C0001.qk\r\n");
    port.send(kGetReply);
    port.send("line one\r\n");
    port.send("\r\n");
    port.send("\x03\r\n");
    port.send(kDone);
    EXPECT_EQ(port.expect("\r\n"), "#FTPPUT\r\n");
    port.send(kAck);
    EXPECT_EQ(port.expect("\x03\r\n"), "TEST,1,2\r\nTEST,3,4\r\n\x03\r\n");
    port.send(kDone);
    EXPECT_TRUE(sim.waitForLine("session complete"));
    port.close();

    EXPECT_EQ(sim.finish(), 0);
    EXPECT_EQ(readFile(received), port.sent);
    EXPECT_FALSE(pathExists(link));
    const std::string& log = sim.output();
    for (const char* step :
         {"session 1 starts", "sent \"#FTPUNK9C0001<CR><LF>\"", "end of data after 2 lines",
          "saving for 20 ms", "end: port closed by the updater, session ended as scripted"}) {
        EXPECT_NE(log.find(step), std::string::npos) << step;
    }
}

TEST(K9simProgram, ServesTheUpdatersSerialStackAndStartsAgainOnReopening) {
    ScratchDir dir;
    const std::string link = dir.file("com7");
    const std::string received = dir.file("received.bin");
    SimProcess sim(quick({"--link", link, "--received", received, "--answer", "no"}));
    ASSERT_EQ(sim.line().rfind("/dev/pts/", 0), 0u);

    QtSerialLine line({{7, link}});
    line.setCommPort(7);
    line.setSettings("38400,N,8,1");
    line.setInputLen(0);
    line.setPortOpen(true);
    EXPECT_EQ(readFromPort(line, "\r\n"), "#FTPUNK9A1234\r\n");
    line.output(kAck);
    line.setPortOpen(false);  // the run is abandoned after the serial number
    ASSERT_TRUE(sim.waitForLine("port closed"));

    line.setPortOpen(true);
    std::string sent = kAck;
    EXPECT_EQ(readFromPort(line, "\r\n"), "#FTPUNK9A1234\r\n");
    for (const char* keyword : {"#FTPPW", "#FTPFILEP", "#FTPGET"}) {
        line.output(kAck);
        sent += kAck;
        EXPECT_EQ(readFromPort(line, "\r\n").rfind(keyword, 0), 0u) << keyword;
    }
    for (const std::string& bytes :
         {kGetReply, std::string("data\r\n"), std::string("\x03\r\n"), kDone}) {
        line.output(bytes);
        sent += bytes;
    }
    EXPECT_EQ(readFromPort(line, "\r\n"), "#FTPPUT#END\r\n");
    line.setPortOpen(false);

    EXPECT_EQ(sim.finish(), 0);
    EXPECT_EQ(readFile(received), sent);
    EXPECT_NE(sim.output().find("session 2 starts"), std::string::npos);
}

TEST(K9simProgram, ADisconnectHangsUpTheLine) {
    ScratchDir dir;
    const std::string link = dir.file("com2");
    SimProcess sim(quick({"--link", link, "--disconnect-at", "2"}));
    ASSERT_EQ(sim.line().rfind("/dev/pts/", 0), 0u);
    Slave port(link);
    EXPECT_EQ(port.expect("\r\n"), "#FTPUNK9A1234\r\n");
    port.send(kAck);
    EXPECT_TRUE(port.hungUp());
    port.close();
    EXPECT_EQ(sim.finish(), 0);
    EXPECT_NE(sim.output().find("line cut at stage 2"), std::string::npos);
    EXPECT_FALSE(pathExists(link));
}

TEST(K9simProgram, AStopSignalEndsAnUnfinishedSession) {
    ScratchDir dir;
    const std::string link = dir.file("com3");
    const std::string received = dir.file("received.bin");
    SimProcess sim(quick({"--link", link, "--received", received}));
    ASSERT_EQ(sim.line().rfind("/dev/pts/", 0), 0u);
    Slave port(link);
    EXPECT_EQ(port.expect("\r\n"), "#FTPUNK9A1234\r\n");
    port.send(kAck);
    EXPECT_EQ(port.expect("\r\n"), "#FTPPW4321A9K\r\n");
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.finish(), 1);
    EXPECT_EQ(readFile(received), kAck);
    EXPECT_FALSE(pathExists(link));
}

}  // namespace
}  // namespace k9
