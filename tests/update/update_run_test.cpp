// Whole update runs on the virtual clock: the simulated unit on the serial line, a real local
// FTP server, and the window's logic behind a recording view.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <tuple>

#include "controller_harness.h"
#include "local_ftp_server.h"
#include "run_texts.h"
#include "sim_serial_line.h"
#include "sim_unit.h"
#include "update/run_outcome.h"

namespace k9 {
namespace {

using namespace test;

const std::string kSerial = "K9A1234";

// One simulated unit on COM1 and the window's logic, on one virtual clock.
struct UnitRun {
    UnitRun(const SimOptions& options, const std::string& ftpHost)
        : unit(options), line(loop, unit, 1), h(loop, line, ftpHost) {}

    VirtualEventLoop loop;
    SimUnit unit;
    SimSerialLine line;
    ControllerHarness h;
};

class UpdateRunTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_.reset(new LocalFtpServer({{kSerial, "4321A9K", kSerial}}));
    }
    static void TearDownTestSuite() { server_.reset(); }
    // Also between the runs of one test: the server's files and faults, the unit's options.
    void SetUp() override {
        server_->clearFaults();
        server_->removeFile(kSerial, kSerial + ".txt");
        server_->putFile(kSerial, "LocationsLite.txt", locationLines(120));
        server_->putFile(kSerial, "LocationsFull.txt", locationLines(300));
        options_ = {.locations = "52.00001,-1.00002,40,USER\r\n53.00001,-2.00002,50,USER\r\n",
                    .saveMs = 3000};
    }
    std::unique_ptr<UnitRun> start(const std::string& host = "") {
        return std::make_unique<UnitRun>(options_, host.empty() ? server_->hostPort() : host);
    }
    static bool sawProgress(const UnitRun& run, int value) {
        const auto& h = run.h.view.progressHistory;
        return std::find(h.begin(), h.end(), value) != h.end();
    }
    // Calls `then` as soon as a status text beginning with `prefix` shows.
    static void whenStatus(UnitRun& run, const std::string& prefix, std::function<void()> then) {
        run.h.view.onStatus = [prefix, then](const std::string& text) {
            if (text.rfind(prefix, 0) == 0) {
                then();
            }
        };
    }

    inline static std::unique_ptr<LocalFtpServer> server_;
    SimOptions options_;
};

TEST_F(UpdateRunTest, SuccessWithStoredLocationsReachesBothEnds) {
    auto run = start();
    run->h.controller().cmdGo_Click();
    auto& view = run->h.view;

    EXPECT_EQ(view.status, kUpdated);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.progress(), 100);
    EXPECT_TRUE(view.idle());
    EXPECT_TRUE(run->unit.completed());
    EXPECT_EQ(run->unit.received(), kHandshake + locationLines(120) + kEnd + kDone + kAck + kDone);
    EXPECT_EQ(server_->readFile(kSerial, kSerial + ".txt"), options_.locations + "\r\n");
    EXPECT_FALSE(run->h.workFileExists("temp.qk"));
    EXPECT_FALSE(run->h.workFileExists(kSerial + ".txt"));
    for (int value : {5, 10, 15, 17, 25, 26, 75, 95, 100}) {
        EXPECT_TRUE(sawProgress(*run, value)) << value;
    }
    EXPECT_TRUE(view.hasStatus("Receiving New Locations from Sentrel K9..."));
    EXPECT_EQ(view.sentTextCleared, 1);
}

TEST_F(UpdateRunTest, NoAnswerToTheOfferEndsAsSuccessAfterTheWaitOfTheEdition) {
    // The selected file, the bar's climb during the wait, and the wait.
    const std::vector<std::tuple<int, std::vector<int>, std::int64_t>> cases{
        {0, {78, 81, 84, 87, 90, 93, 96}, 120000},
        {1, {77, 79, 81, 83, 85, 87, 89, 91, 93, 95}, 240000}};
    options_.answer = OfferAnswer::kNever;
    for (const auto& [file, climb, waitMs] : cases) {
        auto run = start();
        std::int64_t sentAt = -1;
        whenStatus(*run, "Data sent to ", [&] { sentAt = run->loop.tickMs(); });
        run->h.view.selectFile(file);
        run->h.controller().cmdGo_Click();
        EXPECT_EQ(run->h.view.status, kUpdated) << file;
        ASSERT_GE(sentAt, 0) << file;
        const auto waited = run->loop.tickMs() - sentAt;
        EXPECT_GE(waited, waitMs) << file;
        EXPECT_LT(waited, waitMs + 2100) << file;
        auto& history = run->h.view.progressHistory;
        const auto from = std::find(history.begin(), history.end(), 75);
        ASSERT_NE(from, history.end()) << file;
        // The last is the final 100.
        EXPECT_EQ(std::vector<int>(from + 1, history.end() - 1), climb) << file;
    }
}

// Fifty lines move the bar every two lines; the answer no ends without acknowledgement or upload.
TEST_F(UpdateRunTest, AnswerNoAfterFiftyLines) {
    server_->putFile(kSerial, "LocationsLite.txt", locationLines(50));
    options_.answer = OfferAnswer::kNo;
    auto run = start();
    run->h.controller().cmdGo_Click();
    EXPECT_EQ(run->h.view.status, kUpdated);
    EXPECT_EQ(run->unit.received(), kHandshake + locationLines(50) + kEnd + kDone);
    EXPECT_FALSE(server_->hasFile(kSerial, kSerial + ".txt"));
    EXPECT_TRUE(sawProgress(*run, 95));
    std::vector<std::string> percents, everyTwoLines;
    for (const auto& s : run->h.view.statusHistory) {
        if (s.rfind("Sending Data to K9... ", 0) == 0) {
            percents.push_back(s.substr(22));
        }
    }
    for (int p = 4; p <= 100; p += 4) {
        everyTwoLines.push_back(std::to_string(p) + "%");
    }
    EXPECT_EQ(percents, everyTwoLines);
    // After the download's 25, one step per two lines, then 75.
    auto& history = run->h.view.progressHistory;
    const auto at75 = std::find(history.begin(), history.end(), 75);
    ASSERT_GE(at75 - history.begin(), 26);
    EXPECT_EQ(std::vector<int>(at75 - 26, at75 + 1),
              (std::vector<int>{25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,
                                39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 75}));
}

// Beside the fault matrix's rows: the first box's title and icon, what the second (or a lone
// first) holds, and no more than the handshake sent.
TEST_F(UpdateRunTest, FailedRunsShowTheirMessageBoxes) {
    struct Case {
        const char* what;
        std::function<void(SimOptions&)> arrange;
        std::string host;
        const char* title;
        MessageIcon icon;
        std::string second;
    };
    const std::vector<Case> cases{
        {"empty file on the server",
         [](SimOptions&) { server_->putFile(kSerial, "LocationsLite.txt", ""); }, "", "Quillmark",
         MessageIcon::Critical, "ftp download  "},
        {"server refuses connections", [](SimOptions&) {}, "127.0.0.1:1", "Quillmark",
         MessageIcon::Exclamation, "ftp open function: "},
        {"unit unplugged at stage 2", [](SimOptions& o) { o.disconnectAtStage = 2; }, "", "Error",
         MessageIcon::None,
         "\r\nError: 8020  (0)  The serial device is no longer available\r\nPlease take a "
         "screenshot and contact \r\nQuillmark, tel: 0000 000 0000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange(options_);
        auto run = start(c.host);
        run->h.controller().cmdGo_Click();
        const auto& view = run->h.view;
        ASSERT_FALSE(view.messages.empty());
        EXPECT_EQ(view.messages[0].title, c.title);
        EXPECT_EQ(view.messages[0].icon, c.icon);
        const std::string& second =
            view.messages[std::min<std::size_t>(1, view.messages.size() - 1)].text;
        EXPECT_NE(second.find(c.second), std::string::npos) << second;
        EXPECT_EQ(view.progress(), 0);
        EXPECT_FALSE(run->h.workFileExists("temp.qk"));
        EXPECT_EQ(kHandshake.rfind(run->unit.received(), 0), 0u) << run->unit.received();
    }
}

TEST_F(UpdateRunTest, ASecondDownloadAttemptThatSucceedsCarriesOn) {
    server_->setFaults(FtpFaults{.retr550 = true});
    auto run = start();
    run->h.view.respond([](const Message&) {
        server_->clearFaults();
        return MessageAnswer::Ok;
    });
    run->h.controller().cmdGo_Click();
    EXPECT_EQ(run->h.view.messages.size(), 2u);
    EXPECT_EQ(run->h.view.status, kUpdated);
}

TEST_F(UpdateRunTest, DownloadQuestionYesRetriesWithoutReopeningThePort) {
    auto run = start();
    // A folder where the download should go makes writing it fail, whatever the user's rights.
    std::filesystem::create_directory(run->h.workDir() + "temp.qk");
    run->h.view.respond([&](const Message& m) {
        EXPECT_EQ(m.text,
                  "Attempted download of update failed, you may have a problem with your "
                  "firewall or network, try again?");
        EXPECT_EQ(m.title, "K9 updating unsuccessful");
        EXPECT_EQ(m.icon, MessageIcon::Question);
        EXPECT_EQ(m.buttons, MessageButtons::YesNo);
        EXPECT_FALSE(run->h.view.busyPointer);
        std::filesystem::remove(run->h.workDir() + "temp.qk");
        return MessageAnswer::Yes;
    });
    run->h.controller().cmdGo_Click();
    EXPECT_EQ(run->h.view.messages.size(), 1u);
    EXPECT_EQ(run->h.view.status, kUpdated);
    EXPECT_EQ(run->line.opens(), 1);
    EXPECT_FALSE(run->h.view.busyPointer);
}

TEST_F(UpdateRunTest, SendingQuestionYesStartsTheWholeRunAgain) {
    options_.disconnectAfterLines = 30;
    auto run = start();
    run->h.view.respond([](const Message& m) {
        EXPECT_EQ(m.text.rfind("An Error occured while sending file to K9 (", 0), 0u);
        EXPECT_NE(m.text.find("). \r\nCheck connections and retry. Restart updating of "
                              "Sentrel ?  "),
                  std::string::npos);
        return MessageAnswer::Yes;
    });
    run->h.controller().cmdGo_Click();
    EXPECT_EQ(run->h.view.messages.size(), 1u);
    EXPECT_EQ(run->line.opens(), 2);
    EXPECT_EQ(run->h.view.status, kUpdated);
    EXPECT_EQ(run->unit.dataLines().size(), 120u);
}

TEST_F(UpdateRunTest, CloseWhileSendingStopsBeforeTheNextLine) {
    auto run = start();
    whenStatus(*run, "Sending Data to K9... 50%", [&] { run->h.closeAt(run->loop.tickMs()); });
    run->h.controller().cmdGo_Click();
    const std::string received = run->unit.received();
    EXPECT_EQ(run->h.view.status, kStopped);
    EXPECT_EQ(run->h.view.fontSize, 14);
    EXPECT_TRUE(run->h.view.idle());
    EXPECT_TRUE(run->h.view.messages.empty());
    EXPECT_EQ(run->unit.dataLines().size(), 60u);
    EXPECT_EQ(received.find(kEnd), std::string::npos);
    // The temporary file stays as downloaded; nothing more reaches the port later.
    EXPECT_EQ(run->h.readWorkFile("temp.qk"), locationLines(120));
    run->loop.advance(60000);
    EXPECT_EQ(run->unit.received(), received);
}

TEST_F(UpdateRunTest, CloseDuringATransferEndsQuietly) {
    server_->setFaults(FtpFaults{.stallData = true});
    auto run = start();
    whenStatus(*run, "Downloading Data... ", [&] { run->h.closeAt(run->loop.tickMs()); });
    run->h.controller().cmdGo_Click();
    EXPECT_EQ(run->h.view.status, kStopped);
    EXPECT_TRUE(run->h.view.messages.empty());
    EXPECT_TRUE(run->h.view.idle());
}

TEST_F(UpdateRunTest, TwelveCharactersAreNoLocationsThirteenAre) {
    for (const std::string text : {"123456789012", "1234567890123"}) {
        const bool stored = text.size() > 12;
        options_.locations = text;
        options_.expectFinalDone = stored;
        auto run = start();
        run->h.controller().cmdGo_Click();
        EXPECT_EQ(run->h.view.status, kUpdated) << text;
        EXPECT_EQ(server_->hasFile(kSerial, kSerial + ".txt"), stored) << text;
        if (stored) {
            EXPECT_EQ(server_->readFile(kSerial, kSerial + ".txt"), text + "\r\n");
        }
        const std::string tail = kEnd + kDone + kAck + (stored ? kDone : "");
        const std::string received = run->unit.received();
        EXPECT_EQ(received.substr(received.size() - tail.size()), tail) << text;
        server_->removeFile(kSerial, kSerial + ".txt");
    }
}

// What a run tells its observers, in order; repeats of a progress event count once.
class EventLog final : public RunObserver {
  public:
    void runStarted(const RunStart& s) override { add("start " + std::to_string(s.port)); }
    void runRestarted() override { add("restart"); }
    void portOpened(int port) override { add("open " + std::to_string(port)); }
    void stageEntered(Stage stage) override {
        add("stage " + std::to_string(static_cast<int>(stage)));
        if (onStage) {
            onStage(stage);
        }
    }
    void checkTick(std::int16_t count) override { add(count == 0 ? "tick 0" : "tick"); }
    void serialNumberReceived(const std::string& serial) override { add("serial " + serial); }
    void transfer(const TransferProgress& t) override { add(t.download ? "down" : "up"); }
    void linesSent(std::int32_t, std::int32_t total) override {
        add("lines of " + std::to_string(total));
    }
    void offerWait(std::int64_t ms) override { add("wait " + std::to_string(ms / 1000)); }
    void locationsReceived(std::int64_t) override { add("received"); }
    void messageShown(const Message& m, MessageAnswer a) override {
        add("box " + m.title + (a == MessageAnswer::Ok ? "" : " " + std::string(answerWord(a))));
    }
    void runEnded(const RunRecord& r) override {
        add("end " + outcomeText(r));
        record = r;
    }
    std::string text;
    RunRecord record;
    std::function<void(Stage)> onStage;

  private:
    void add(const std::string& event) {
        if (event == last_ && (event == "tick" || event == "down" || event == "up" ||
                               event.rfind("lines", 0) == 0 || event == "received")) {
            return;
        }
        text += (text.empty() ? "" : ", ") + event;
        last_ = event;
    }
    std::string last_;
};

TEST_F(UpdateRunTest, RunsTellTheirEventsInOrder) {
    const std::string handshake =
        "start 1, open 1, stage 1, tick, tick 0, serial K9A1234, stage 2, tick 0, stage 3, "
        "tick 0, stage 4, tick 0, stage 5, tick 0, ";
    const std::string sent = "down, stage 6, lines of 120, stage 7, wait 120, ";
    const struct {
        const char* name;
        std::function<void(SimOptions&)> arrange;
        bool closeWhileSending;
        std::string events;
        LocationsFate locations;
    } rows[] = {
        {"good run", [](SimOptions&) {}, false,
         handshake + sent + "stage 8, received, up, stage 9, end Sentrel K9 updated.",
         LocationsFate::Uploaded},
        {"no answer", [](SimOptions& o) { o.silentFromStage = 1; }, false,
         "start 1, open 1, stage 1, tick, end Sentrel K9 updating unsuccessful: the unit did not "
         "answer while waiting for the unit; check the cable, that the unit is in its download "
         "mode and that this is its port.",
         LocationsFate::NotOffered},
        {"login refused", [](SimOptions&) { server_->setFaults(FtpFaults{.refuseLogin = true}); },
         false,
         handshake + "box Quillmark, box , end Sentrel K9 updating unsuccessful: the server could "
                     "not be reached: 530 Login refused.",
         LocationsFate::NotOffered},
        {"unplugged mid-file", [](SimOptions& o) { o.disconnectAfterLines = 30; }, false,
         handshake + "down, stage 6, lines of 120, box K9 updating unsuccessful no, end Sentrel "
                     "K9 updating unsuccessful: The serial device is no longer available.",
         LocationsFate::NotOffered},
        {"offer declined", [](SimOptions& o) { o.answer = OfferAnswer::kNo; }, false,
         handshake + sent + "stage 9, end Sentrel K9 updated.", LocationsFate::Declined},
        {"Close mid-run", [](SimOptions&) {}, true,
         handshake + "down, stage 6, lines of 120, end Sentrel K9 update stopped.",
         LocationsFate::NotOffered},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        row.arrange(options_);
        auto run = start();
        EventLog log;
        run->h.core().events().add(log);
        if (row.closeWhileSending) {
            log.onStage = [&](Stage stage) {
                if (stage == Stage::SendFile) {
                    run->h.closeAt(run->loop.tickMs() + 3000);
                }
            };
        }
        run->h.controller().cmdGo_Click();
        EXPECT_EQ(log.text, row.events);
        EXPECT_EQ(log.record.locations, row.locations);
        // A failed run without a trace says how to keep one; the others say nothing.
        EXPECT_EQ(run->h.view.note.empty(),
                  log.record.end == RunEnd::Updated || log.record.end == RunEnd::Stopped);
        EXPECT_EQ(log.record.serialNumber, row.events == rows[1].events ? "" : kSerial);
    }
}

}  // namespace
}  // namespace k9
