#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/event_loop.h"
#include "platform/runtime_error.h"
#include "platform/virtual_event_loop.h"
#include "sim_serial_line.h"
#include "sim_unit.h"

namespace k9 {
namespace {

const std::string kAck = "\r\n0\r\n";
const std::string kUn = "#FTPUNK9A1234\r\n";
const std::string kPw = "#FTPPW4321A9K\r\n";

std::int32_t errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

struct Bench {
    explicit Bench(SimOptions options = {}) : unit(std::move(options)), line(loop, unit, 2) {
        line.setCommPort(2);
        line.setSettings("38400,N,8,1");
        line.setInputLen(0);
    }
    // Waits on the virtual clock, as the updater's Delay does, until the unit sent something.
    std::string waitForInput() {
        for (int i = 0; i < 100; ++i) {
            const std::string got = line.input();
            if (!got.empty()) {
                return got;
            }
            loop.waitUntil(loop.tickMs() + 600'000);
        }
        return {};
    }

    VirtualEventLoop loop;
    SimUnit unit;
    SimSerialLine line;
};

TEST(SimSerialLine, OpensOnlyPortsThatArePresentAndFree) {
    Bench b;
    b.line.setPort(3, SimSerialLine::Port::kInUse);
    b.line.setPort(4, SimSerialLine::Port::kEmpty);
    auto openPort = [&](int n) {
        return errorOf([&] {
            b.line.setCommPort(static_cast<std::int16_t>(n));
            b.line.setPortOpen(true);
        });
    };
    EXPECT_EQ(openPort(1), err::kInvalidPortNumber);
    EXPECT_EQ(openPort(0), err::kInvalidPortNumber);
    EXPECT_EQ(openPort(3), err::kPortNotAvailable);
    EXPECT_FALSE(b.line.portOpen());
    EXPECT_EQ(errorOf([&] { b.line.input(); }), err::kPortNotOpen);
    EXPECT_EQ(errorOf([&] { b.line.output(kAck); }), err::kPortNotOpen);
    EXPECT_THROW(b.line.setSettings("38400;N;8;1"), RuntimeError);

    // A port with nothing plugged in opens and stays quiet.
    EXPECT_EQ(openPort(4), 0);
    EXPECT_EQ(openPort(4), err::kPortAlreadyOpen);
    b.line.output(kAck);
    b.loop.advance(60'000);
    EXPECT_EQ(b.line.input(), "");
    EXPECT_EQ(b.unit.sessions(), 0);
    b.line.setPortOpen(false);
    b.line.setPortOpen(false);  // closing a closed port is quiet

    EXPECT_EQ(openPort(2), 0);
    EXPECT_EQ(b.line.settingsAtOpen(), "38400,N,8,1");
    EXPECT_EQ(b.unit.sessions(), 1);
}

TEST(SimSerialLine, DeliversWhatTheUnitSendsAtItsVirtualTime) {
    Bench b;
    b.loop.advance(5'000);
    b.line.setPortOpen(true);  // the unit starts counting when the port opens
    Delay(b.loop, 900);
    EXPECT_EQ(b.line.input(), "");
    b.loop.waitUntil(100'000);  // a long wait stops where the unit speaks
    EXPECT_EQ(b.loop.tickMs(), 6'000);
    EXPECT_EQ(b.line.input(), kUn);
    b.line.output(kAck);
    EXPECT_EQ(b.unit.received(), kAck);
    Delay(b.loop, 2'000);  // the updater's pause between two reads
    EXPECT_EQ(b.loop.tickMs(), 8'001);
    EXPECT_EQ(b.line.input(), kPw);

    b.line.setInputLen(4);
    EXPECT_EQ(b.waitForInput(), "#FTP");  // the unit's retry
    EXPECT_EQ(b.loop.tickMs(), 9'200);
    b.line.setInputLen(0);
    EXPECT_EQ(b.line.input(), "PW4321A9K\r\n");
}

// An updater that reads every two seconds and answers what the unit asked for, as the real
// one paces itself; the whole session runs in virtual time.
TEST(SimSerialLine, CarriesAWholeSessionAtTheUpdatersPace) {
    Bench b;
    b.line.setPortOpen(true);
    std::string buffer;
    bool sentFile = false;
    for (int pass = 0; pass < 200 && !b.unit.completed(); ++pass) {
        buffer += b.line.input();
        for (const char* keyword : {"#FTPUN", "#FTPPW", "#FTPFILEP", "#FTPPUT\r"}) {
            if (buffer.find(keyword) != std::string::npos) {
                b.line.output(kAck);
                buffer.clear();
            }
        }
        if (buffer.find("#FTPGET") != std::string::npos) {
            b.line.output("\r\n150\r\n");
            buffer.clear();
            for (const char* data : {"line 1\r\n", "line 2\r\n", "\x03\r\n", "\r\n368\r\n"}) {
                Delay(b.loop, 18);
                b.line.output(data);
            }
            sentFile = true;
        }
        if (buffer.find("\x03\r\n") != std::string::npos) {
            b.line.output("\r\n368\r\n");
            buffer.clear();
        }
        Delay(b.loop, 2'000);
    }
    EXPECT_TRUE(sentFile);
    EXPECT_TRUE(b.unit.completed());
    EXPECT_EQ(b.unit.dataLines(), (std::vector<std::string>{"line 1", "line 2"}));
    EXPECT_LT(b.loop.tickMs(), 60'000);
}

TEST(SimSerialLine, ADisconnectFailsReadsAndWritesUntilThePortIsOpenedAgain) {
    SimOptions o;
    o.disconnectAtStage = 2;
    Bench b(o);
    b.line.setPortOpen(true);
    EXPECT_EQ(b.waitForInput(), kUn);
    b.line.output(kAck);
    b.loop.waitUntil(100'000);
    EXPECT_EQ(b.loop.tickMs(), 1'200);  // when the password was due, the line died
    EXPECT_TRUE(b.line.broken());
    EXPECT_TRUE(b.line.portOpen());
    EXPECT_EQ(errorOf([&] { b.line.input(); }), err::kPortIo);
    EXPECT_EQ(errorOf([&] { b.line.output(kAck); }), err::kPortIo);

    b.line.setPortOpen(false);
    b.line.setPortOpen(true);  // plugged in again: a fresh session, the fault spent
    EXPECT_EQ(b.waitForInput(), kUn);
    b.line.output(kAck);
    EXPECT_EQ(b.waitForInput(), kPw);
    EXPECT_EQ(b.unit.sessions(), 2);
}

TEST(SimSerialLine, ADisconnectMidFileFailsTheNextWrite) {
    for (const int stage6 : {0, 1}) {
        SCOPED_TRACE(stage6 ? "at stage 6" : "after two lines");
        SimOptions o;
        o.disconnectAtStage = stage6 ? 6 : 0;
        o.disconnectAfterLines = stage6 ? 0 : 2;
        Bench b(o);
        b.line.setPortOpen(true);
        for (int i = 0; i < 3; ++i) {
            b.waitForInput();
            b.line.output(kAck);
        }
        b.waitForInput();
        b.line.output("\r\n150\r\n");
        const int written = stage6 ? 0 : 2;
        for (int i = 0; i < written; ++i) {
            b.line.output("line\r\n");
        }
        EXPECT_EQ(errorOf([&] { b.line.output("line\r\n"); }), err::kPortIo);
        EXPECT_EQ(b.unit.dataLines().size(), static_cast<std::size_t>(written));
    }
}

TEST(SimSerialLine, PullingThePlugBreaksTheOpenPort) {
    Bench b;
    b.line.setPortOpen(true);
    EXPECT_EQ(b.waitForInput(), kUn);
    b.line.setPort(2, SimSerialLine::Port::kAbsent);
    EXPECT_EQ(errorOf([&] { b.line.input(); }), err::kPortIo);
    EXPECT_FALSE(b.unit.connected());
    b.line.setPortOpen(false);
    EXPECT_EQ(errorOf([&] { b.line.setPortOpen(true); }), err::kInvalidPortNumber);

    // The unit moves to another port and is found there.
    b.line.setPort(5, SimSerialLine::Port::kUnit);
    b.line.setCommPort(5);
    b.line.setPortOpen(true);
    EXPECT_EQ(b.waitForInput(), kUn);
}

TEST(SimSerialLine, SameScriptSameRun) {
    auto run = [] {
        SimOptions o;
        o.dropKeywordStage = 2;
        Bench b(o);
        b.line.setPortOpen(true);
        for (int pass = 0; pass < 10; ++pass) {
            if (!b.line.input().empty()) {
                b.line.output(kAck);
            }
            Delay(b.loop, 2'000);
        }
        return b.unit.log();
    };
    EXPECT_EQ(run(), run());
}

}  // namespace
}  // namespace k9
