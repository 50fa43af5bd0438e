// The simulated unit behind its in-process line, on a virtual clock. Whole update runs against
// them live in tests/update; these pin the simulator's own timing, line behaviour and faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_loop.h"
#include "platform/virtual_event_loop.h"
#include "run_texts.h"
#include "sim_serial_line.h"
#include "sim_unit.h"

namespace k9 {
namespace {

using test::kAck;
using test::kDone;
using test::kEnd;

const std::string kUn = "#FTPUNK9A1234\r\n";
const std::string kPw = "#FTPPW4321A9K\r\n";
const std::string kFileP = "#FTPFILEP/k9/update/\r\n";
const std::string kGet = "#FTPGETK9A1234.qk\r\n";
const std::string kPut = "#FTPPUT\r\n";
const std::string kLocations = SimOptions().locations + kEnd;
const std::vector<std::string> kCleanSession = {kUn, kPw, kFileP, kGet, kPut, kLocations};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The unit on COM2 of an in-process line, driven the way the updater drives it.
struct Bench {
    explicit Bench(SimOptions options = {}) : unit(std::move(options)), line(loop, unit, 2) {
        line.setSettings("38400,N,8,1");
    }
    void open() {
        line.setCommPort(2);
        line.setPortOpen(true);
    }
    void send(const std::string& bytes) {
        sent += bytes;
        line.output(bytes);
    }
    // Waits on the virtual clock, as the updater's Delay does, until the unit sent something;
    // gives up when the line has nothing planned up to untilMs.
    std::string waitForInput(std::int64_t untilMs = 600'000) {
        for (;;) {
            std::string got = line.input();
            const std::int64_t due = loop.nextDue();
            if (!got.empty() || due < 0 || due > untilMs) {
                return got;
            }
            loop.waitUntil(due);
        }
    }
    // Plays a plain updater: answers every whole message (one ending in CR LF) at once, one
    // reply per read with an earlier keyword winning, and sends three data lines after the get
    // reply. Records what each read brought and when.
    void answerAll(std::int64_t untilMs = 600'000) {
        for (std::string in = waitForInput(untilMs); !in.empty(); in = waitForInput(untilMs)) {
            reads.push_back(in);
            readTimes.push_back(loop.tickMs());
            if (in.size() < 2 || in.compare(in.size() - 2, 2, "\r\n") != 0) {
                continue;
            }
            if (contains(in, "#FTPUN") || contains(in, "#FTPPW") || contains(in, "#FTPFILEP") ||
                contains(in, kPut)) {
                send(kAck);
            } else if (contains(in, "#FTPGET")) {
                send("\r\n150\r\none\r\ntwo\r\nthree\r\n" + kEnd + kDone);
            }
            if (contains(in, kEnd)) {
                send(kDone);
            }
        }
    }

    VirtualEventLoop loop;
    SimUnit unit;
    SimSerialLine line;
    std::string sent;
    std::vector<std::string> reads;
    std::vector<std::int64_t> readTimes;
};

// Replies cut anywhere, keep-alives the unit ignores, and the exact times its messages become
// readable: 1 s after the port opens, 200 ms after an acknowledgement, again every 3 s while
// unanswered, 3 s after the done code.
TEST(SimSerialLine, CarriesASessionFedInPiecesAtTheUnitsTimes) {
    Bench b;
    b.loop.advance(5'000);
    b.open();  // the unit starts counting when the port opens
    b.loop.advance(400);
    b.send(kAck);  // a keep-alive before the unit said anything
    Delay(b.loop, 500);
    EXPECT_EQ(b.line.input(), "");
    b.loop.waitUntil(100'000);  // a long wait stops where the unit speaks
    EXPECT_EQ(b.loop.tickMs(), 6'000);
    EXPECT_EQ(b.line.input(), kUn);
    for (const char c : std::string("\r\n0\r")) {
        b.send(std::string(1, c));
    }
    EXPECT_EQ(b.unit.nextWakeMs(), 9'000);  // not answered yet: the retry is still planned
    b.send("\n");
    Delay(b.loop, 2'000);  // the updater's pause between two reads
    EXPECT_EQ(b.loop.tickMs(), 8'001);
    EXPECT_EQ(b.line.input(), kPw);

    b.line.setInputLen(4);
    EXPECT_EQ(b.waitForInput(), "#FTP");  // the unit's retry
    EXPECT_EQ(b.loop.tickMs(), 9'200);
    b.line.setInputLen(0);
    EXPECT_EQ(b.line.input(), "PW4321A9K\r\n");
    EXPECT_EQ(b.waitForInput(), kPw);  // and again
    EXPECT_EQ(b.loop.tickMs(), 12'200);
    b.send(kAck);
    EXPECT_EQ(b.waitForInput(), kFileP);
    b.send(kAck);
    EXPECT_EQ(b.waitForInput(), kGet);
    EXPECT_EQ(b.loop.tickMs(), 12'600);
    b.send(kAck);  // the keep-alive is not the get reply
    b.send("\r\n15");
    EXPECT_EQ(b.unit.stage(), 4);
    b.send("0\r\n");
    EXPECT_EQ(b.unit.stage(), 5);
    EXPECT_EQ(b.unit.nextWakeMs(), -1);
    b.loop.advance(20'000);  // the download takes a while
    // An empty line and a lone LF inside a line are data like any other.
    b.send("first\r\n\r\nlone\nLF\r");
    EXPECT_EQ(b.unit.stage(), 6);
    b.send("\n\x03\r");
    b.send("\n\r\n368\r\n");
    EXPECT_EQ(b.unit.dataLines(), (std::vector<std::string>{"first", "", "lone\nLF"}));
    EXPECT_EQ(b.waitForInput(), kPut);
    EXPECT_EQ(b.loop.tickMs(), 35'600);
    b.send(kAck);
    EXPECT_EQ(b.waitForInput(), kLocations);
    EXPECT_FALSE(b.unit.completed());
    b.send(kDone);
    EXPECT_TRUE(b.unit.completed());
    EXPECT_EQ(b.unit.nextWakeMs(), -1);
    EXPECT_EQ(b.unit.received(), b.sent);
    EXPECT_EQ(b.unit.log().at(1), "5400 ms [stage 1] ignored \"0\"");
    EXPECT_EQ(describeBytes(std::string("\x03\x00\x7f?", 4)), "<ETX><x00><x7F>?");
}

using Reads = std::vector<std::string>;
struct KeywordFault {
    int SimOptions::*stageOf;
    int stage;
    Reads reads;  // what each read brings when a plain updater answers every whole message at once
    std::int64_t putOffToMs;  // the fault puts a message off to this time (-1: unchecked)
};

TEST(SimUnit, KeywordFaultsFireOnceAndTheSessionStillEnds) {
    const std::string noise = SimOptions().garbage;
    using O = SimOptions;
    const std::vector<KeywordFault> rows = {
        {&O::dropKeywordStage, 2, kCleanSession, 1200 + 3000},
        {&O::lateKeywordStage, 3, kCleanSession, 1400 + 7000},
        {&O::lateKeywordStage, 8, kCleanSession, 4800 + 7000},
        {&O::garbageBeforeStage, 1, {noise + kUn, kPw, kFileP, kGet, kPut, kLocations}, -1},
        {&O::garbageInsteadStage, 4, {kUn, kPw, kFileP, noise, kGet, kPut, kLocations}, 4600},
        {&O::noCrStage, 3,
         Reads{kUn, kPw, "#FTPFILEP/k9/update/\n", kFileP, kGet, kPut, kLocations}, 4400},
        {&O::noCrStage, 7, {kUn, kPw, kFileP, kGet, "#FTPPUT\n"}, -1},
        {&O::splitKeywordStage, 1,
         Reads{"#FTPU", "NK9A1234\r\n", kUn, kPw, kFileP, kGet, kPut, kLocations}, 3500},
        {&O::mergedKeywordStage, 3, {kUn, kPw + kFileP, kFileP, kGet, kPut, kLocations}, 4200},
        {&O::mergedKeywordStage, 4, {kUn, kPw, kFileP + kGet, kGet, kPut, kLocations}, 4400},
        {&O::mergedKeywordStage, 8, {kUn, kPw, kFileP, kGet, kPut + kLocations}, -1},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i));
        SimOptions o;
        o.*rows[i].stageOf = rows[i].stage;
        Bench b(o);
        b.open();
        b.answerAll();
        EXPECT_EQ(b.reads, rows[i].reads);
        // The answer to the offer is never sent again, so one without its CR is never answered.
        EXPECT_EQ(b.unit.completed(), rows[i].reads.back() != "#FTPPUT\n");
        if (const std::int64_t at = rows[i].putOffToMs; at >= 0) {
            EXPECT_NE(std::find(b.readTimes.begin(), b.readTimes.end(), at), b.readTimes.end())
                << "nothing read at " << at << " ms";
        }
        // Once only: the next session is clean.
        b.line.setPortOpen(false);
        b.line.setPortOpen(true);
        b.reads.clear();
        b.answerAll();
        EXPECT_EQ(b.reads, kCleanSession);
    }
}

TEST(SimUnit, SerialNumberFaults) {
    const std::pair<SerialFault, std::string> rows[] = {
        {SerialFault::kLowerCase, "#FTPUNk9a1234\r\n"},
        {SerialFault::kShort, "#FTPUNK9A12\r\n"},
        {SerialFault::kInvalidChars, "#FTPUNK9A/2*4\r\n"}};
    for (const auto& [fault, expected] : rows) {
        Bench b(SimOptions{.serialFault = fault});
        b.open();
        EXPECT_EQ(b.waitForInput(), expected);
    }
}

// Nobody reads a flood for an hour: the unit holds back instead of piling up output.
TEST(SimUnit, AFloodHoldsBackWhileNobodyReads) {
    const SimOptions o{.flood = true};
    Bench b(o);
    b.open();
    b.answerAll(4'600);  // up to the offer, answered at once: the flood is due at 4800 ms
    ASSERT_EQ(b.reads.back(), kPut);
    const std::size_t backlog = b.unit.takeOutput(3'600'000).size();
    EXPECT_GE(backlog, 64 * 1024u);
    EXPECT_LE(backlog, 64 * 1024 + o.floodChunkBytes);
}

}  // namespace
}  // namespace k9
