#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "sim_unit.h"

namespace k9 {
namespace {

const std::string kAck = "\r\n0\r\n";
const std::string kGetReply = "\r\n150\r\n";
const std::string kEndOfData = "\x03\r\n";
const std::string kDone = "\r\n368\r\n";

const std::string kUn = "#FTPUNK9A1234\r\n";
const std::string kPw = "#FTPPW4321A9K\r\n";
const std::string kFileP = "#FTPFILEP/k9/update/\r\n";
const std::string kGet = "#FTPGETK9A1234.qk\r\n";
const std::string kPut = "#FTPPUT\r\n";
const std::string kLocations = SimOptions().locations + kEndOfData;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool logHas(const SimUnit& unit, const std::string& part) {
    const auto& log = unit.log();
    return std::any_of(log.begin(), log.end(), [&](const auto& l) { return contains(l, part); });
}

// The updater's side, byte by byte, on a clock the test moves.
class Harness {
  public:
    explicit Harness(SimOptions options = {}) : unit(std::move(options)) { unit.connect(0); }

    // Moves time through the unit's wake-ups until it sends something, and returns that.
    std::string nextOutput(std::int64_t limitMs = 3'600'000) {
        for (;;) {
            const std::int64_t due = unit.nextWakeMs();
            if (due < 0 || due > limitMs) {
                return {};
            }
            now = std::max(now, due);
            std::string out = unit.takeOutput(now);
            if (!out.empty()) {
                return out;
            }
        }
    }
    // Lets ms pass and returns whatever the unit sent meanwhile.
    std::string idle(std::int64_t ms) {
        std::string out;
        const std::int64_t end = now + ms;
        while (unit.nextWakeMs() >= 0 && unit.nextWakeMs() <= end) {
            now = std::max(now, unit.nextWakeMs());
            out += unit.takeOutput(now);
        }
        now = end;
        return out + unit.takeOutput(now);
    }
    std::size_t send(const std::string& bytes) {
        sent += bytes;
        return unit.feed(bytes, now);
    }

    SimUnit unit;
    std::int64_t now = 0;
    std::string sent;
};

// Answers each keyword at once, as a cooperative updater would, through stage 4.
void playToData(Harness& h) {
    ASSERT_EQ(h.nextOutput(), kUn);
    h.send(kAck);
    ASSERT_EQ(h.nextOutput(), kPw);
    h.send(kAck);
    ASSERT_EQ(h.nextOutput(), kFileP);
    h.send(kAck);
    ASSERT_EQ(h.nextOutput(), kGet);
    h.send(kGetReply);
}

void playToOffer(Harness& h, const std::vector<std::string>& lines = {"a line"}) {
    playToData(h);
    for (const auto& line : lines) {
        h.send(line + "\r\n");
    }
    h.send(kEndOfData);
    h.send(kDone);
}

// A plain updater: answers every whole message of the unit (one ending in CR LF) at once, and
// sends the given data lines after the get reply. Records each write of the unit with its time.
struct Responder {
    std::vector<std::string> dataLines = {"one", "two", "three"};
    std::vector<std::pair<std::int64_t, std::string>> heard;

    void run(Harness& h, std::int64_t untilMs = 600'000) {
        for (;;) {
            const std::string out = h.nextOutput(untilMs);
            if (out.empty()) {
                return;
            }
            heard.emplace_back(h.now, out);
            answer(h, out);
        }
    }
    void answer(Harness& h, const std::string& out) {
        const bool whole = out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0;
        if (!whole) {
            return;
        }
        // One reply per write, as the updater makes one per read: an earlier keyword wins.
        if (contains(out, "#FTPUN") || contains(out, "#FTPPW") || contains(out, "#FTPFILEP") ||
            contains(out, kPut)) {
            sendUnlessCut(h, kAck);
        } else if (contains(out, "#FTPGET")) {
            sendUnlessCut(h, kGetReply);
            for (const auto& line : dataLines) {
                sendUnlessCut(h, line + "\r\n");
            }
            sendUnlessCut(h, kEndOfData);
            sendUnlessCut(h, kDone);
        }
        if (out.size() >= 3 && out.compare(out.size() - 3, 3, kEndOfData) == 0) {
            sendUnlessCut(h, kDone);
        }
    }
    void sendUnlessCut(Harness& h, const std::string& bytes) {
        if (!h.unit.lineCut()) {
            h.send(bytes);
        }
    }
    std::vector<std::string> writes() const {
        std::vector<std::string> w;
        for (const auto& [at, bytes] : heard) {
            w.push_back(bytes);
        }
        return w;
    }
};

// What a plain updater hears from a unit that stops when the stage begins.
std::vector<std::string> writesBefore(int stage) {
    const std::vector<std::string> all = {kUn, kPw, kFileP, kGet, kPut};
    static constexpr std::size_t kHeard[] = {0, 0, 1, 2, 3, 4, 4, 4, 5};
    return {all.begin(), all.begin() + static_cast<std::ptrdiff_t>(kHeard[stage])};
}

TEST(SimUnit, PlaysAWholeSessionAnsweredYes) {
    Harness h;
    EXPECT_EQ(h.nextOutput(), kUn);
    EXPECT_EQ(h.now, 1000);
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), kPw);
    EXPECT_EQ(h.now, 1200);
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), kFileP);
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), kGet);
    EXPECT_EQ(h.now, 1600);
    h.send(kGetReply);
    EXPECT_EQ(h.unit.stage(), 5);
    EXPECT_EQ(h.unit.nextWakeMs(), -1);
    h.now = 20'000;  // the download takes a while
    // An empty line and a lone LF inside a line are data like any other.
    for (const std::string line : {"first\r\n", "\r\n", "lone\nLF\r\n"}) {
        h.send(line);
    }
    EXPECT_EQ(h.unit.stage(), 6);
    h.send(kEndOfData);
    h.send(kDone);
    EXPECT_EQ(h.unit.dataLines(), (std::vector<std::string>{"first", "", "lone\nLF"}));
    EXPECT_EQ(h.nextOutput(), kPut);
    EXPECT_EQ(h.now, 23'000);  // after saving
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), kLocations);
    EXPECT_FALSE(h.unit.completed());
    h.send(kDone);
    EXPECT_TRUE(h.unit.completed());
    EXPECT_EQ(h.unit.nextWakeMs(), -1);
    EXPECT_EQ(h.unit.received(), h.sent);
    EXPECT_FALSE(h.unit.lineCut());
    EXPECT_TRUE(logHas(h.unit, "session complete"));
}

TEST(SimUnit, AnswersTheOfferNoOrNever) {
    SimOptions no;
    no.answer = OfferAnswer::kNo;
    Harness h(no);
    playToOffer(h);
    EXPECT_EQ(h.nextOutput(), "#FTPPUT#END\r\n");
    EXPECT_TRUE(h.unit.completed());
    EXPECT_EQ(h.unit.nextWakeMs(), -1);

    SimOptions never;
    never.answer = OfferAnswer::kNever;
    Harness n(never);
    playToOffer(n);
    EXPECT_FALSE(n.unit.completed());  // still saving
    EXPECT_EQ(n.idle(600'000), "");
    EXPECT_TRUE(n.unit.completed());
    EXPECT_TRUE(logHas(n.unit, "offer left unanswered"));
}

TEST(SimUnit, ShortLocationsCompleteWithoutTheDoneCodeWhenToldSo) {
    SimOptions o;
    o.locations = "X\r\n";
    o.expectFinalDone = false;
    Harness h(o);
    playToOffer(h);
    EXPECT_EQ(h.nextOutput(), kPut);
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), "X\r\n" + kEndOfData);
    EXPECT_TRUE(h.unit.completed());
}

TEST(SimUnit, TakesRepliesSplitAnywhereAndToleratesKeepAlives) {
    Harness h;
    h.now = 500;
    h.send(kAck);  // a keep-alive before the unit said anything
    EXPECT_EQ(h.nextOutput(), kUn);
    EXPECT_EQ(h.now, 1000);
    for (const char c : std::string("\r\n0\r")) {
        h.send(std::string(1, c));
    }
    EXPECT_EQ(h.unit.nextWakeMs(), 4000);  // not answered yet: the retry is still planned
    h.send("\n");
    EXPECT_EQ(h.nextOutput(), kPw);
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), kFileP);
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), kGet);
    h.send(kAck);  // the keep-alive is not the get reply
    h.send("\r\n15");
    EXPECT_EQ(h.unit.stage(), 4);
    h.send("0\r\nfirst line\r");
    h.send("\n\x03\r");
    h.send("\n\r\n368\r\n");
    EXPECT_EQ(h.unit.dataLines(), std::vector<std::string>{"first line"});
    EXPECT_EQ(h.nextOutput(), kPut);
    EXPECT_TRUE(logHas(h.unit, "ignored \"0\""));
    EXPECT_EQ(h.unit.received(), h.sent);
}

TEST(SimUnit, SendsAnUnansweredKeywordAgainButNeverTheOfferAnswer) {
    Harness h;
    EXPECT_EQ(h.nextOutput(), kUn);
    EXPECT_EQ(h.nextOutput(), kUn);
    EXPECT_EQ(h.now, 4000);
    EXPECT_EQ(h.nextOutput(), kUn);
    EXPECT_EQ(h.now, 7000);
    h.send(kAck);
    EXPECT_EQ(h.nextOutput(), kPw);
    EXPECT_EQ(h.now, 7200);

    Harness offer;
    playToOffer(offer);
    EXPECT_EQ(offer.nextOutput(), kPut);
    EXPECT_EQ(offer.unit.nextWakeMs(), -1);  // the updater pauses 5 s before its reply

    SimOptions once;
    once.retryMs = 0;
    Harness quiet(once);
    EXPECT_EQ(quiet.nextOutput(), kUn);
    EXPECT_EQ(quiet.unit.nextWakeMs(), -1);
}

TEST(SimUnit, StartsAFreshSessionOnEachOpeningAndKeepsItsRecords) {
    Harness h;
    EXPECT_EQ(h.nextOutput(), kUn);
    h.send(kAck);
    h.now = 1100;
    h.unit.disconnect(h.now);  // the password was not taken yet: it is lost
    EXPECT_EQ(h.unit.nextWakeMs(), -1);
    EXPECT_EQ(h.unit.feed("ignored", h.now), 0u);
    h.now = 10'000;
    h.unit.connect(h.now);
    EXPECT_EQ(h.nextOutput(), kUn);
    EXPECT_EQ(h.now, 11'000);
    EXPECT_EQ(h.unit.sessions(), 2);
    h.send(kAck);
    EXPECT_EQ(h.unit.received(), kAck + kAck);
}

TEST(SimUnitFaults, SilenceOrDisconnectWhereEachStageBegins) {
    for (const bool cut : {false, true}) {
        for (int stage = 1; stage <= 8; ++stage) {
            const std::string n = std::to_string(stage);
            SCOPED_TRACE((cut ? "disconnect at stage " : "silent from stage ") + n);
            SimOptions o;
            (cut ? o.disconnectAtStage : o.silentFromStage) = stage;
            Harness h(o);
            Responder r;
            r.run(h);
            EXPECT_EQ(r.writes(), writesBefore(stage));
            EXPECT_TRUE(h.unit.completed());
            EXPECT_EQ(h.unit.nextWakeMs(), -1);
            EXPECT_EQ(h.unit.lineCut(), cut);
            EXPECT_TRUE(logHas(
                h.unit,
                "[stage " + n + "] " + (cut ? "line cut at stage " + n : "silent from here on")));
            if (cut) {
                EXPECT_EQ(h.unit.feed(kAck, h.now), 0u);
                // Stage 5 ends with the get reply; at stage 6 not even the first data line arrives.
                EXPECT_EQ(contains(h.unit.received(), "150"), stage >= 5);
                EXPECT_EQ(contains(h.unit.received(), "one"), stage >= 7);
            } else {
                h.send(kAck);  // a silent unit still listens
                EXPECT_EQ(h.unit.received(), h.sent);
            }
        }
    }
}

struct KeywordFault {
    const char* name;
    void (*set)(SimOptions&);
    // The unit's writes, in order, when a plain updater answers every whole message.
    std::vector<std::string> writes;
    std::int64_t faultyWriteAtMs;  // time of the write after the faulty one (-1: unchecked)
};

TEST(SimUnitFaults, KeywordFaultsFireOnceAndTheSessionStillEnds) {
    const std::string noise = SimOptions().garbage;
    const std::vector<KeywordFault> rows = {
        {"dropped password",
         [](SimOptions& o) { o.dropKeywordStage = 2; },
         {kUn, kPw, kFileP, kGet, kPut, kLocations},
         1200 + 3000},
        {"late file path",
         [](SimOptions& o) { o.lateKeywordStage = 3; },
         {kUn, kPw, kFileP, kGet, kPut, kLocations},
         1400 + 7000},
        {"late locations",
         [](SimOptions& o) { o.lateKeywordStage = 8; },
         {kUn, kPw, kFileP, kGet, kPut, kLocations},
         -1},
        {"noise before the serial",
         [](SimOptions& o) { o.garbageBeforeStage = 1; },
         {noise + kUn, kPw, kFileP, kGet, kPut, kLocations},
         -1},
        {"noise instead of get",
         [](SimOptions& o) { o.garbageInsteadStage = 4; },
         {kUn, kPw, kFileP, noise, kGet, kPut, kLocations},
         1600 + 3000},
        {"file path without CR",
         [](SimOptions& o) { o.noCrStage = 3; },
         {kUn, kPw, "#FTPFILEP/k9/update/\n", kFileP, kGet, kPut, kLocations},
         1400 + 3000},
        {"offer answer without CR",
         [](SimOptions& o) { o.noCrStage = 7; },
         {kUn, kPw, kFileP, kGet, "#FTPPUT\n"},
         -1},
        {"serial number in two writes",
         [](SimOptions& o) { o.splitKeywordStage = 1; },
         {"#FTPU", "NK9A1234\r\n", kUn, kPw, kFileP, kGet, kPut, kLocations},
         1000 + 2500},
        {"file path with the password",
         [](SimOptions& o) { o.mergedKeywordStage = 3; },
         {kUn, kPw + kFileP, kFileP, kGet, kPut, kLocations},
         1200 + 3000},
        {"get with the file path",
         [](SimOptions& o) { o.mergedKeywordStage = 4; },
         {kUn, kPw, kFileP + kGet, kGet, kPut, kLocations},
         1400 + 3000},
        {"locations with the offer answer",
         [](SimOptions& o) { o.mergedKeywordStage = 8; },
         {kUn, kPw, kFileP, kGet, kPut + kLocations},
         -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SimOptions o;
        row.set(o);
        Harness h(o);
        Responder r;
        r.run(h);
        EXPECT_EQ(r.writes(), row.writes);
        const bool answered = row.writes.back() != "#FTPPUT\n";
        EXPECT_EQ(h.unit.completed(), answered);
        if (row.faultyWriteAtMs >= 0) {
            const auto it = std::find_if(r.heard.begin(), r.heard.end(), [&](const auto& w) {
                return w.first == row.faultyWriteAtMs;
            });
            EXPECT_NE(it, r.heard.end()) << "no write at " << row.faultyWriteAtMs << " ms";
        }
        // Once only: the next session is clean.
        h.unit.disconnect(h.now);
        h.unit.connect(h.now);
        Responder again;
        again.run(h);
        EXPECT_EQ(again.writes(),
                  (std::vector<std::string>{kUn, kPw, kFileP, kGet, kPut, kLocations}));
    }
}

TEST(SimUnitFaults, SerialNumberFaults) {
    const std::pair<SerialFault, std::string> rows[] = {
        {SerialFault::kLowerCase, "#FTPUNk9a1234\r\n"},
        {SerialFault::kShort, "#FTPUNK9A12\r\n"},
        {SerialFault::kInvalidChars, "#FTPUNK9A/2*4\r\n"},
    };
    for (const auto& [fault, expected] : rows) {
        SimOptions o;
        o.serialFault = fault;
        Harness h(o);
        EXPECT_EQ(h.nextOutput(), expected);
    }
    SimOptions custom;
    custom.serial = "K9Z0042";
    EXPECT_EQ(Harness(custom).nextOutput(), "#FTPUNK9Z0042\r\n");
}

TEST(SimUnitFaults, DisconnectAfterSomeDataLines) {
    SimOptions o;
    o.disconnectAfterLines = 2;
    Harness h(o);
    playToData(h);
    EXPECT_EQ(h.send("one\r\n"), 5u);
    EXPECT_EQ(h.send("two\r\n"), 5u);  // the second line arrives, then the line goes dead
    EXPECT_TRUE(h.unit.lineCut());
    EXPECT_EQ(h.send("three\r\n"), 0u);
    EXPECT_EQ(h.unit.dataLines(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(h.unit.received(), kAck + kAck + kAck + kGetReply + "one\r\ntwo\r\n");

    // Opened again, the unit plays a whole session.
    h.unit.connect(h.now);
    EXPECT_FALSE(h.unit.lineCut());
    Responder r;
    r.run(h);
    EXPECT_EQ(h.unit.dataLines().size(), 3u);
    EXPECT_TRUE(h.unit.completed());
}

TEST(SimUnitFaults, FloodSendsLocationTextWithoutEndAndKeepsItsBacklogBounded) {
    SimOptions o;
    o.flood = true;
    Harness h(o);
    playToOffer(h);
    EXPECT_EQ(h.nextOutput(), kPut);
    h.send(kAck);
    const std::string tenSeconds = h.idle(10'000);
    EXPECT_GE(tenSeconds.size(), 90 * o.floodChunkBytes);
    EXPECT_EQ(tenSeconds.find('\x03'), std::string::npos);
    EXPECT_EQ(tenSeconds.substr(0, 27), "51.50722,-0.12750,30,USER\r\n");
    EXPECT_TRUE(h.unit.completed());
    EXPECT_GE(h.unit.nextWakeMs(), 0);  // it never stops

    // Nobody reads for an hour: the unit holds back instead of piling up output.
    h.now += 3'600'000;
    EXPECT_LE(h.unit.takeOutput(h.now).size(), 64 * 1024 + o.floodChunkBytes);
}

TEST(SimUnitFaults, SlowSavingDelaysTheOffer) {
    SimOptions o;
    o.saveMs = 150'000;
    Harness h(o);
    playToOffer(h);
    const std::int64_t doneAt = h.now;
    EXPECT_EQ(h.nextOutput(), kPut);
    EXPECT_EQ(h.now, doneAt + 150'000);
}

TEST(SimUnit, LogsOneReadableLinePerStep) {
    Harness h;
    h.nextOutput();
    h.send("\r\n\x7f?\r\n");
    EXPECT_EQ(h.unit.log().at(1), "1000 ms [stage 1] sent \"#FTPUNK9A1234<CR><LF>\"");
    EXPECT_TRUE(logHas(h.unit, "ignored \"<x7F>?\""));
    EXPECT_EQ(describeBytes(std::string("\x03\x00", 2)), "<ETX><x00>");
}

}  // namespace
}  // namespace k9
