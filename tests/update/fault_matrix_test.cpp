// Faults a driver meets at the worst moment, one row each: the unit, the server, the PC. Every
// row runs a whole update on the virtual clock and must end with its expected message, the window
// idle, nothing left open and the driver's locations not lost; fault-matrix.txt tells the outcomes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <regex>

#include "controller_harness.h"
#include "local_ftp_server.h"
#include "run_texts.h"
#include "sim_serial_line.h"
#include "sim_unit.h"
#include "test_certificates.h"
#include "transfer/cftp.h"
#include "update/device_link.h"

namespace k9 {
namespace {

using namespace test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kSerial = "K9A1234";
const std::string kLocations = "52.00001,-1.00002,40,USER\r\n53.00001,-2.00002,50,USER\r\n";
// Left by an earlier run whose upload failed; its second line is also among kLocations.
const std::string kKeptBefore = "50.00001,-0.00001,30,USER\r\n52.00001,-1.00002,40,USER\r\n\r\n";
const std::string kMerged = kKeptBefore + "53.00001,-2.00002,50,USER\r\n";

int openDescriptors() {
    return static_cast<int>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

struct Scenario {
    SimOptions unit{.locations = kLocations, .saveMs = 3000};
    FtpFaults faults;
    std::string ftpHost;                                        // empty: the local server
    std::optional<std::string> remoteFile = locationLines(60);  // none: missing on the server
    std::string keptBefore;  // the locations file an earlier run left in the working folder
    std::function<void(ControllerHarness&)> beforeRun = [](ControllerHarness&) {};
    std::optional<FtpFaults> afterDownload;  // the server's faults from stage 7 on
};

// The driver's locations reach the server, stay in the working folder, or stay on the unit.
enum class Locations { Uploaded, KeptLocally, OnTheUnit };

struct Expect {
    std::string status;
    std::size_t messages = 0;
    std::string firstMessageStart{};  // empty: not checked
    Locations locations = Locations::OnTheUnit;
    std::string locationsFile = kLocations + "\r\n";  // on the server or kept, as the row expects
};

struct Row {
    std::string group;
    std::string scenario;
    std::function<void(Scenario&)> arrange;
    Expect expect;
};

std::string oneLine(const std::string& text) {
    return std::regex_replace(text, std::regex("\r\n"), " / ");
}

class FaultMatrix : public ::testing::TestWithParam<Row> {
  protected:
    static void SetUpTestSuite() {
        server_.reset(new LocalFtpServer({{kSerial, "4321A9K", kSerial}}));
    }
    static void TearDownTestSuite() {
        server_.reset();
        std::ofstream out("fault-matrix.txt");
        const std::string head = "Fault matrix: scenario | outcome";
        std::printf("\n%s\n", head.c_str());
        out << head << "\n";
        for (const auto& row : table_) {
            std::printf("  %s\n", row.c_str());
            out << row << "\n";
        }
    }
    inline static std::unique_ptr<LocalFtpServer> server_;
    inline static std::vector<std::string> table_;
    // The client's TLS: none against the plain server, auto against one that speaks TLS.
    inline static std::unique_ptr<TestCertificates> certs_;
    // One whole run; its line of the printed table goes to `told`.
    static void runRow(const Row& row, std::vector<std::string>& told);
};

// The same rows against a server that offers TLS, as users meet it with ftp_tls = auto.
class FaultMatrixOverTls : public FaultMatrix {
  protected:
    static void SetUpTestSuite() {
        certs_ = std::make_unique<TestCertificates>();
        server_.reset(new LocalFtpServer({{kSerial, "4321A9K", kSerial}}, certs_->server()));
    }
    static void TearDownTestSuite() {
        // The rows' sessions were encrypted: the server is remembered as one that speaks TLS.
        EXPECT_TRUE(fs::exists(certs_->folder() + "/ftp-tls-hosts"));
        server_.reset();
        certs_.reset();
    }
};

TEST_P(FaultMatrix, EndsCleanlyWithoutLoss) {
    runRow(GetParam(), table_);
}

TEST_P(FaultMatrixOverTls, EndsCleanlyWithoutLoss) {
    std::vector<std::string> untold;
    runRow(GetParam(), untold);
}

void FaultMatrix::runRow(const Row& row, std::vector<std::string>& told) {
    SCOPED_TRACE(row.scenario);
    Scenario setup;
    row.arrange(setup);
    server_->removeFile(kSerial, kSerial + ".txt");
    server_->removeFile(kSerial, "LocationsLite.txt");
    if (setup.remoteFile) {
        server_->putFile(kSerial, "LocationsLite.txt", *setup.remoteFile);
    }
    server_->setFaults(setup.faults);

    const int descriptorsBefore = openDescriptors();
    {
        VirtualEventLoop loop;
        SimUnit unit(setup.unit);
        SimSerialLine line(loop, unit, 1);
        const auto factory = [&loop] {
            InternetSettings settings{.connectTimeout = 2s, .stallTimeout = 2s};
            if (certs_) {
                settings.tls = FtpTls::Auto;
                settings.caFile = certs_->caFile();
                settings.tlsHostsFile = certs_->folder() + "/ftp-tls-hosts";
            }
            return std::make_shared<cFTP>(loop, settings);
        };
        ControllerHarness h(loop, line, setup.ftpHost.empty() ? server_->hostPort() : setup.ftpHost,
                            factory);
        if (!setup.keptBefore.empty()) {
            h.writeWorkFile(kSerial + ".txt", setup.keptBefore);
        }
        setup.beforeRun(h);
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
        const Expect& want = row.expect;
        EXPECT_EQ(view.status, want.status);
        EXPECT_EQ(view.messages.size(), want.messages);
        if (!want.firstMessageStart.empty() && !view.messages.empty()) {
            EXPECT_EQ(view.messages[0].text.rfind(want.firstMessageStart, 0), 0u)
                << view.messages[0].text;
        }
        // Back to idle, with nothing held.
        EXPECT_TRUE(view.idle());
        EXPECT_FALSE(line.portOpen());
        EXPECT_EQ(h.controller().context().files.openCount(), 0u);
        EXPECT_EQ(h.state().mFTP, nullptr);
        EXPECT_LE(h.state().sRxBuffer.size(), kMaxReceiveBuffer);
        // Nothing of the driver's lost.
        const std::string file = kSerial + ".txt";
        if (want.locations == Locations::Uploaded) {
            ASSERT_TRUE(server_->hasFile(kSerial, file));
            EXPECT_EQ(server_->readFile(kSerial, file), want.locationsFile);
            EXPECT_FALSE(h.workFileExists(file));
        } else if (want.locations == Locations::KeptLocally) {
            // Whatever the server made of a rejected upload, the file stays here.
            EXPECT_EQ(h.readWorkFile(file), want.locationsFile);
        } else {
            EXPECT_FALSE(server_->hasFile(kSerial, file));
            // What an earlier run kept is still there, whole.
            if (!setup.keptBefore.empty()) {
                EXPECT_EQ(h.readWorkFile(file), setup.keptBefore);
            }
        }
        std::string outcome = oneLine(view.status);
        if (!view.messages.empty()) {
            outcome += " [" + std::to_string(view.messages.size()) + " message" +
                       (view.messages.size() > 1 ? "s" : "") + ": \"" +
                       oneLine(view.messages[0].text).substr(0, 48) + "...\"]";
        }
        const char* where[] = {"locations uploaded", "locations kept locally",
                               "locations stay on the unit"};
        outcome += "; " + std::string(where[static_cast<int>(want.locations)]);
        told.push_back(row.group + " | " + row.scenario + " | " +
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
const std::string kUploadFailed = "An Error has occured while trying to upload data";

// The unit is updated, but its stored locations did not come.
std::string notReceived(const std::string& why) {
    return "Sentrel K9 updated. \r\nIts stored locations were not received (" + why +
           "), so none were sent to the server.";
}

std::vector<Row> allRows() {
    std::vector<Row> rows;
    const auto add = [&rows](const char* group, const std::string& scenario, const Expect& expect,
                             std::function<void(Scenario&)> arrange) {
        rows.push_back({group, scenario, std::move(arrange), expect});
    };
    // A unit row sets one field of the unit's options.
    const auto unit = [&add](const std::string& scenario, auto field, auto value,
                             const Expect& expect) {
        add("unit", scenario, expect, [=](Scenario& s) { s.unit.*field = value; });
    };
    using O = SimOptions;
    const auto at = [](const char* what, int stage) { return what + std::to_string(stage); };
    const Expect uploaded{kUpdated, 0, "", L::Uploaded};
    const std::string stoppedSending = notReceived("the K9 stopped sending");

    unit("silent from stage 1", &O::silentFromStage, 1, {kWrongPort});
    // From stage 5 on the unit only listens until it makes its offer: silence there is an
    // offer never answered, which ends as a success.
    for (int stage = 2; stage <= 7; ++stage) {
        unit(at("silent from stage ", stage), &O::silentFromStage, stage,
             {stage < 5 ? kNoAnswer : kUpdated});
    }
    unit("silent from stage 8 (offer accepted, no data)", &O::silentFromStage, 8, {stoppedSending});
    // The unit never repeats its answer to the offer: an answer lost to noise or without its CR
    // is an offer never answered, and the locations stay on the unit.
    const auto answered = [](int stage) {
        return Expect{kUpdated, 0, "", stage == 7 ? L::OnTheUnit : L::Uploaded};
    };
    for (int stage : {1, 3, 7}) {
        unit(at("garbage instead of the keyword, stage ", stage), &O::garbageInsteadStage, stage,
             answered(stage));
        unit(at("garbage before the keyword, stage ", stage), &O::garbageBeforeStage, stage,
             uploaded);
    }
    for (int stage : {1, 2, 4, 7}) {
        unit(at("keyword split across reads, stage ", stage), &O::splitKeywordStage, stage,
             uploaded);
        unit(at("keyword without CR, stage ", stage), &O::noCrStage, stage, answered(stage));
    }
    for (int stage : {2, 3, 4}) {
        unit(at("two keywords in one read, stage ", stage), &O::mergedKeywordStage, stage,
             uploaded);
    }
    // Locations in the same read as the answer go with the emptied buffer; the wait for them
    // then ends on the unit's silence.
    unit("locations in the same read as the answer", &O::mergedKeywordStage, 8, {stoppedSending});
    // Cut as the download starts, the next read finds the port gone; cut as the data starts,
    // the sending loop does.
    for (int stage = 1; stage <= 8; ++stage) {
        unit(at("unplugged at stage ", stage), &O::disconnectAtStage, stage,
             {kFailed, 1, stage == 6 ? kSending : kRuntime});
    }
    unit("unplugged mid-file (line 30 of 60)", &O::disconnectAfterLines, 30,
         {kFailed, 1, kSending});
    unit("endless locations without an end (flood)", &O::flood, true,
         {notReceived("the K9 sent more than expected")});
    unit("lower-case serial number", &O::serialFault, SerialFault::kLowerCase, uploaded);
    unit("serial number with invalid characters", &O::serialFault, SerialFault::kInvalidChars,
         {"Sentrel K9 updating unsuccessful: the unit sent an invalid serial number."});

    const Expect noLogin{kFailed, 2, kConnect}, noDownload{kFailed, 6, kDownload};
    const Expect uploadKept{kUpdated, 1, kUploadFailed, L::KeptLocally};
    add("server", "unreachable", noLogin, [](Scenario& s) { s.ftpHost = "127.0.0.1:1"; });
    add("server", "file missing", noDownload, [](Scenario& s) { s.remoteFile.reset(); });
    add("server", "file empty", noDownload, [](Scenario& s) { s.remoteFile = ""; });
    const auto server = [&add](const std::string& scenario, FtpFaults set, const Expect& expect) {
        add("server", scenario, expect, [set](Scenario& s) { s.faults = set; });
    };
    server("login refused", {.refuseLogin = true}, noLogin);
    server("no greeting (login stalls)", {.stallLogin = true}, noLogin);
    server("listing refused", {.refuseList = true}, noDownload);
    server("retrieve refused (550)", {.retr550 = true}, noDownload);
    server("data connection dropped mid-file", {.dropData = true}, noDownload);
    server("data connection reset mid-file", {.resetData = true}, noDownload);
    server("stalled transfer", {.stallData = true}, noDownload);
    server("fewer bytes than listed", {.listSizeDelta = 100}, noDownload);
    server("more bytes than listed (whole file still sent; upload not whole)",
           {.listSizeDelta = -100}, uploadKept);
    server("upload rejected at its end (552)", {.rejectStore = true}, uploadKept);
    server("upload confirmed, but half of it stored", {.shortStore = true}, uploadKept);

    // Kept by an earlier run: merged with the new ones, or sent alone when no new ones come.
    const auto kept = [&add](const char* scenario, OfferAnswer answer, FtpFaults faults,
                             std::optional<FtpFaults> afterDownload, const Expect& expect) {
        add("server", std::string("kept from before, ") + scenario, expect, [=](Scenario& s) {
            s.keptBefore = kKeptBefore;
            s.unit.answer = answer;
            s.faults = faults;
            s.afterDownload = afterDownload;
        });
    };
    using A = OfferAnswer;
    const auto sent = [](const std::string& file, const std::string& tail) {
        return Expect{kUpdated + tail, 0, "", L::Uploaded, file};
    };
    const auto stay = [](const char* why) {
        return Expect{kUpdated + "\r\n2 kept locations could not be sent (" + why +
                          "); they stay on this PC for the next update.",
                      0, "", L::KeptLocally, kKeptBefore};
    };
    const std::string sentTail = "\r\n2 kept locations were sent to the server.";
    // Gone: the server stops taking logins once the file was downloaded.
    const FtpFaults none{}, refused{.rejectStore = true}, gone{.refuseLogin = true};
    kept("new ones merged", A::kYes, none, {}, sent(kMerged, ""));
    kept("new ones merged, upload rejected (552)", A::kYes, refused, {},
         {kUpdated, 1, kUploadFailed, L::KeptLocally, kMerged});
    kept("offer declined: kept ones sent", A::kNo, none, {}, sent(kKeptBefore, sentTail));
    kept("offer never answered: kept ones sent", A::kNever, none, {}, sent(kKeptBefore, sentTail));
    kept("offer declined, upload rejected (552)", A::kNo, refused, {},
         stay("the server did not take the file"));
    kept("offer declined, server gone after the download", A::kNo, none, gone,
         stay("the server could not be reached"));

    // What is in the working folder where a file is to be written, and what an earlier run kept.
    const auto blocked = [&add](const std::string& scenario, const std::string& name, bool folder,
                                bool keptBefore, const Expect& expect) {
        add("local", scenario, expect, [=](Scenario& s) {
            s.keptBefore = keptBefore ? kKeptBefore : "";
            s.beforeRun = [=](ControllerHarness& h) {
                folder ? static_cast<void>(fs::create_directory(h.workDir() + name))
                       : fs::create_symlink("/dev/full", h.workDir() + name);
            };
        });
    };
    const Expect question{kFailed, 1, "Attempted download of update failed, "};
    blocked("temporary file cannot be written", "temp.qk", true, false, question);
    blocked("disk full for the temporary file", "temp.qk", false, false, question);
    blocked("disk full for the locations file (kept file stays whole)", kSerial + ".txt.new", false,
            true, {kFailed, 1, "A runtime error has occured : \r\nSource: File"});
    return rows;
}

const auto kRowName = [](const ::testing::TestParamInfo<Row>& info) {
    return info.param.group + "_" + std::to_string(info.index);
};
INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(allRows()), kRowName);
INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixOverTls, ::testing::ValuesIn(allRows()), kRowName);

}  // namespace
}  // namespace k9
