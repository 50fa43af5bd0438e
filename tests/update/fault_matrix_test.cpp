// Faults a driver meets at the worst moment, one row each: the unit, the server, the PC. Every
// row runs a whole update on the virtual clock and must end with its expected message, the
// window idle, nothing left open and the driver's locations not lost.
// The rows and their outcomes are printed as a table and written to fault-matrix.txt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <tuple>

#include "controller_harness.h"
#include "local_ftp_server.h"
#include "run_texts.h"
#include "sim_serial_line.h"
#include "sim_unit.h"
#include "transfer/cftp.h"
#include "update/device_link.h"
#include "update/location_upload.h"

namespace k9 {
namespace {

using namespace test;

using namespace std::chrono_literals;
using test::ControllerHarness;

const std::string kSerial = "K9A1234";
const std::string kLocations = "52.00001,-1.00002,40,USER\r\n53.00001,-2.00002,50,USER\r\n";
// Left by an earlier run whose upload failed; its second line is also among kLocations.
const std::string kKeptBefore = "50.00001,-0.00001,30,USER\r\n52.00001,-1.00002,40,USER\r\n\r\n";
const std::string kMerged = kKeptBefore + "53.00001,-2.00002,50,USER\r\n";

int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

struct Scenario {
    SimOptions unit;
    FtpFaults faults;
    std::string ftpHost;  // empty: the local server
    enum class RemoteFile { Present, Missing, Empty } remoteFile = RemoteFile::Present;
    std::string keptBefore;  // the locations file an earlier run left in the working folder
    std::function<void(ControllerHarness&)> beforeRun;
    std::optional<FtpFaults> afterDownload;  // the server's faults from stage 7 on
};

// The driver's locations reach the server, stay in the working folder, or stay on the unit.
enum class Locations { Uploaded, KeptLocally, OnTheUnit };

struct Expect {
    Expect(std::string status_, std::size_t messages_ = 0, std::string first = {},
           Locations where = Locations::OnTheUnit, std::string file = kLocations + "\r\n")
        : status(std::move(status_)),
          messages(messages_),
          firstMessageStart(std::move(first)),
          locations(where),
          locationsFile(std::move(file)) {}

    std::string status;
    std::size_t messages;
    std::string firstMessageStart;
    Locations locations;
    std::string locationsFile;  // on the server or kept, as the row expects
};

struct Row {
    std::string group;
    std::string scenario;
    std::function<void(Scenario&)> arrange;
    Expect expect;
};

std::string oneLine(std::string text) {
    for (auto p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n")) {
        text.replace(p, 2, " / ");
    }
    return text;
}

std::vector<std::string>& table() {
    static std::vector<std::string> rows;
    return rows;
}

class FaultMatrix : public ::testing::TestWithParam<Row> {
  protected:
    static void SetUpTestSuite() { server_ = new LocalFtpServer({{kSerial, "4321A9K", kSerial}}); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        std::ofstream out("fault-matrix.txt");
        const std::string head = "Fault matrix: scenario | outcome";
        std::printf("\n%s\n", head.c_str());
        out << head << "\n";
        for (const auto& row : table()) {
            std::printf("  %s\n", row.c_str());
            out << row << "\n";
        }
    }
    static LocalFtpServer* server_;
};

LocalFtpServer* FaultMatrix::server_ = nullptr;

TEST_P(FaultMatrix, EndsCleanlyWithoutLoss) {
    const Row& row = GetParam();
    server_->clearFaults();
    server_->removeFile(kSerial, kSerial + ".txt");
    Scenario setup;
    setup.unit.saveMs = 3000;
    setup.unit.locations = kLocations;
    row.arrange(setup);
    server_->removeFile(kSerial, "LocationsLite.txt");
    if (setup.remoteFile != Scenario::RemoteFile::Missing) {
        server_->putFile(kSerial, "LocationsLite.txt",
                         setup.remoteFile == Scenario::RemoteFile::Empty ? "" : locationLines(60));
    }
    server_->setFaults(setup.faults);

    const int descriptorsBefore = openDescriptors();
    {
        VirtualEventLoop loop;
        SimUnit unit(setup.unit);
        SimSerialLine line(loop, unit, 1);
        const auto factory = [&loop] {
            return std::make_shared<cFTP>(
                loop, InternetSettings{.connectTimeout = 2s, .stallTimeout = 2s});
        };
        ControllerHarness h(loop, line, setup.ftpHost.empty() ? server_->hostPort() : setup.ftpHost,
                            factory);
        if (!setup.keptBefore.empty()) {
            h.writeWorkFile(kSerial + ".txt", setup.keptBefore);
        }
        if (setup.beforeRun) {
            setup.beforeRun(h);
        }
        // Polled on the virtual clock: the server changes once the file has been downloaded.
        std::function<void()> watch = [&] {
            h.state().iStage >= 7 ? server_->setFaults(*setup.afterDownload)
                                  : loop.scheduleAfter(1000, watch);
        };
        if (setup.afterDownload) {
            loop.scheduleAfter(1000, watch);
        }
        h.controller().cmdGo_Click();
        server_->clearFaults();

        const auto& view = h.view;
        EXPECT_EQ(view.status, row.expect.status);
        EXPECT_EQ(view.messages.size(), row.expect.messages);
        if (!row.expect.firstMessageStart.empty() && !view.messages.empty()) {
            EXPECT_EQ(view.messages[0].text.rfind(row.expect.firstMessageStart, 0), 0u)
                << view.messages[0].text;
        }
        // Back to idle, with nothing held.
        EXPECT_TRUE(view.idle());
        EXPECT_FALSE(line.portOpen());
        EXPECT_EQ(h.controller().context().files.openCount(), 0u);
        EXPECT_EQ(h.state().mFTP, nullptr);
        EXPECT_LE(h.state().sRxBuffer.size(), kMaxReceiveBuffer);
        // Nothing of the driver's lost.
        const bool onServer = server_->hasFile(kSerial, kSerial + ".txt");
        const bool kept = h.workFileExists(kSerial + ".txt");
        switch (row.expect.locations) {
            case Locations::Uploaded:
                ASSERT_TRUE(onServer);
                EXPECT_EQ(server_->readFile(kSerial, kSerial + ".txt"), row.expect.locationsFile);
                EXPECT_FALSE(kept);
                break;
            case Locations::KeptLocally:
                // Whatever the server made of a rejected upload, the file stays here.
                EXPECT_EQ(h.readWorkFile(kSerial + ".txt"), row.expect.locationsFile);
                break;
            case Locations::OnTheUnit:
                EXPECT_FALSE(onServer);
                // What an earlier run kept is still there, whole.
                if (!setup.keptBefore.empty()) {
                    EXPECT_EQ(h.readWorkFile(kSerial + ".txt"), setup.keptBefore);
                }
                break;
        }
        std::string outcome = oneLine(view.status);
        if (!view.messages.empty()) {
            outcome += " [" + std::to_string(view.messages.size()) + " message" +
                       (view.messages.size() > 1 ? "s" : "") + ": \"" +
                       oneLine(view.messages[0].text).substr(0, 48) + "...\"]";
        }
        const char* where[] = {"locations uploaded", "locations kept locally",
                               "locations stay on the unit"};
        outcome += "; " + std::string(where[static_cast<int>(row.expect.locations)]);
        table().push_back(row.group + " | " + row.scenario + " | " +
                          (::testing::Test::HasFailure() ? "FAILED: " : "") + outcome);
    }
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
}

using L = Locations;
const std::string kRuntime = "A runtime error has occured : \r\nSource: Serial port";
const std::string kSending = "An Error occured while sending file to K9 (";
const std::string kConnect = "An error has occurred whilst trying to connect to the server.";
const std::string kDownload =
    "An Error has occured while trying to download data from the Quillmark Server.";
const std::string kDownloadQuestion = "Attempted download of update failed, ";
const std::string kUploadFailed = "An Error has occured while trying to upload data";
const std::string kStoppedSending =
    "Sentrel K9 updated. \r\nIts stored locations were not received (the K9 stopped sending), "
    "so none were sent to the server.";

// A row that sets one field of the unit's faults.
Row unitRow(const std::string& scenario, int SimOptions::*fault, int value, Expect expect) {
    return {"unit", scenario, [fault, value](Scenario& s) { s.unit.*fault = value; }, expect};
}

std::vector<Row> unitRows() {
    using O = SimOptions;
    const auto at = [](const char* what, int stage) { return what + std::to_string(stage); };
    std::vector<Row> rows{unitRow("silent from stage 1", &O::silentFromStage, 1, {kWrongPort})};
    // From stage 5 on the unit only listens until it makes its offer: silence there is an
    // offer never answered, which ends as a success.
    for (int stage = 2; stage <= 7; ++stage) {
        rows.push_back(unitRow(at("silent from stage ", stage), &O::silentFromStage, stage,
                               {stage < 5 ? kNoAnswer : kUpdated}));
    }
    rows.push_back(unitRow("silent from stage 8 (offer accepted, no data)", &O::silentFromStage, 8,
                           {kStoppedSending}));
    // The unit never repeats its answer to the offer: an answer lost to noise or without its CR
    // is an offer never answered, and the locations stay on the unit.
    const auto answered = [](int stage) {
        return Expect{kUpdated, 0, "", stage == 7 ? L::OnTheUnit : L::Uploaded};
    };
    const Expect uploaded{kUpdated, 0, "", L::Uploaded};
    for (int stage : {1, 3, 7}) {
        rows.push_back(unitRow(at("garbage instead of the keyword, stage ", stage),
                               &O::garbageInsteadStage, stage, answered(stage)));
        rows.push_back(unitRow(at("garbage before the keyword, stage ", stage),
                               &O::garbageBeforeStage, stage, uploaded));
    }
    for (int stage : {1, 2, 4, 7}) {
        rows.push_back(unitRow(at("keyword split across reads, stage ", stage),
                               &O::splitKeywordStage, stage, uploaded));
        rows.push_back(unitRow(at("keyword without CR, stage ", stage), &O::noCrStage, stage,
                               answered(stage)));
    }
    for (int stage : {2, 3, 4}) {
        rows.push_back(unitRow(at("two keywords in one read, stage ", stage),
                               &O::mergedKeywordStage, stage, uploaded));
    }
    // Locations in the same read as the answer go with the emptied buffer; the wait for them
    // then ends on the unit's silence.
    rows.push_back(unitRow("locations in the same read as the answer", &O::mergedKeywordStage, 8,
                           {kStoppedSending}));
    // Cut as the download starts, the next read finds the port gone; cut as the data starts,
    // the sending loop does.
    for (int stage = 1; stage <= 8; ++stage) {
        rows.push_back(unitRow(at("unplugged at stage ", stage), &O::disconnectAtStage, stage,
                               {kFailed, 1, stage == 6 ? kSending : kRuntime}));
    }
    rows.push_back(unitRow("unplugged mid-file (line 30 of 60)", &O::disconnectAfterLines, 30,
                           {kFailed, 1, kSending}));
    rows.push_back({"unit",
                    "endless locations without an end (flood)",
                    [](Scenario& s) { s.unit.flood = true; },
                    {"Sentrel K9 updated. \r\nIts stored locations were not received (the K9 "
                     "sent more than expected), so none were sent to the server."}});
    const auto serial = [](SerialFault fault) {
        return [fault](Scenario& s) { s.unit.serialFault = fault; };
    };
    rows.push_back({"unit", "lower-case serial number", serial(SerialFault::kLowerCase), uploaded});
    rows.push_back({"unit",
                    "serial number with invalid characters",
                    serial(SerialFault::kInvalidChars),
                    {"Sentrel K9 updating unsuccessful: the unit sent an invalid serial number."}});
    return rows;
}

std::vector<Row> serverRows() {
    const Expect noLogin{kFailed, 2, kConnect}, noDownload{kFailed, 6, kDownload};
    const Expect uploadKept{kUpdated, 1, kUploadFailed, L::KeptLocally};
    const std::vector<std::tuple<const char*, FtpFaults, Expect>> faults{
        {"login refused", {.refuseLogin = true}, noLogin},
        {"no greeting (login stalls)", {.stallLogin = true}, noLogin},
        {"listing refused", {.refuseList = true}, noDownload},
        {"retrieve refused (550)", {.retr550 = true}, noDownload},
        {"data connection dropped mid-file", {.dropData = true}, noDownload},
        {"data connection reset mid-file", {.resetData = true}, noDownload},
        {"stalled transfer", {.stallData = true}, noDownload},
        {"fewer bytes than listed", {.listSizeDelta = 100}, noDownload},
        {"more bytes than listed (whole file still sent; upload not whole)",
         {.listSizeDelta = -100},
         uploadKept},
        {"upload rejected at its end (552)", {.rejectStore = true}, uploadKept},
        {"upload confirmed, but half of it stored", {.shortStore = true}, uploadKept},
    };
    std::vector<Row> rows{
        {"server", "unreachable", [](Scenario& s) { s.ftpHost = "127.0.0.1:1"; }, noLogin},
        {"server", "file missing",
         [](Scenario& s) { s.remoteFile = Scenario::RemoteFile::Missing; }, noDownload},
        {"server", "file empty", [](Scenario& s) { s.remoteFile = Scenario::RemoteFile::Empty; },
         noDownload}};
    for (const auto& [name, set, expect] : faults) {
        rows.push_back({"server", name, [set](Scenario& s) { s.faults = set; }, expect});
    }
    // Kept by an earlier run: merged with the new ones, or sent alone when no new ones come.
    const auto sent = [](const std::string& file, const std::string& tail) {
        return Expect{kUpdated + tail, 0, "", L::Uploaded, file};
    };
    const auto stay = [](const char* why) {
        return Expect{kUpdated + "\r\n2 kept locations could not be sent (" + why +
                          "); they stay on this PC for the next update.",
                      0, "", L::KeptLocally, kKeptBefore};
    };
    const std::string sentTail = "\r\n2 kept locations were sent to the server.";
    const FtpFaults none{}, refused{.rejectStore = true};
    const bool gone = true;  // the server stops taking logins once the file was downloaded
    using O = OfferAnswer;
    const std::vector<std::tuple<const char*, O, FtpFaults, bool, Expect>> kept{
        {"new ones merged", O::kYes, none, !gone, sent(kMerged, "")},
        {"new ones merged, upload rejected (552)", O::kYes, refused, !gone,
         Expect(kUpdated, 1, kUploadFailed, L::KeptLocally, kMerged)},
        {"offer declined: kept ones sent", O::kNo, none, !gone, sent(kKeptBefore, sentTail)},
        {"offer never answered: kept ones sent", O::kNever, none, !gone,
         sent(kKeptBefore, sentTail)},
        {"offer declined, upload rejected (552)", O::kNo, refused, !gone,
         stay("the server did not take the file")},
        {"offer declined, server gone after the download", O::kNo, none, gone,
         stay("the server could not be reached")},
    };
    for (const auto& [name, answer, faults, serverGone, expect] : kept) {
        rows.push_back({"server", std::string("kept from before, ") + name,
                        [answer, faults, serverGone](Scenario& s) {
                            s.keptBefore = kKeptBefore;
                            s.unit.answer = answer;
                            s.faults = faults;
                            if (serverGone) {
                                s.afterDownload = FtpFaults{.refuseLogin = true};
                            }
                        },
                        expect});
    }
    return rows;
}

std::vector<Row> localRows() {
    namespace fs = std::filesystem;
    // What is in the working folder where a file is to be written, and what an earlier run kept.
    const auto blocked = [](const std::string& name, bool folder, bool keptBefore) {
        return [=](Scenario& s) {
            s.keptBefore = keptBefore ? kKeptBefore : "";
            s.beforeRun = [=](ControllerHarness& h) {
                folder ? static_cast<void>(fs::create_directory(h.workDir() + name))
                       : fs::create_symlink("/dev/full", h.workDir() + name);
            };
        };
    };
    return {{"local",
             "temporary file cannot be written",
             blocked("temp.qk", true, false),
             {kFailed, 1, kDownloadQuestion}},
            {"local",
             "disk full for the temporary file",
             blocked("temp.qk", false, false),
             {kFailed, 1, kDownloadQuestion}},
            {"local",
             "disk full for the locations file (kept file stays whole)",
             blocked(kSerial + ".txt.new", false, true),
             {kFailed, 1, "A runtime error has occured : \r\nSource: File"}}};
}

std::vector<Row> allRows() {
    std::vector<Row> rows = unitRows();
    for (auto& r : serverRows()) {
        rows.push_back(std::move(r));
    }
    for (auto& r : localRows()) {
        rows.push_back(std::move(r));
    }
    return rows;
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name = info.param.group + "_" + std::to_string(info.index);
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(allRows()), rowName);

}  // namespace
}  // namespace k9
