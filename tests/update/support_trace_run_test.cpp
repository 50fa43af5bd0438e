// Whole runs with the support trace on, against the simulated unit and the local FTP server:
// the trace tells what happened, down to the failure the user saw, and never gives away the
// unit's serial number or its password.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "controller_harness.h"
#include "local_ftp_server.h"
#include "platform/support_trace.h"
#include "sim_serial_line.h"
#include "sim_unit.h"
#include "transfer/cftp.h"
#include "update/run_trace.h"

namespace k9 {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kSerial = "K9A1234";
const std::string kPassword = "4321A9K";
const std::string kUpdated =
    "Sentrel K9 updated. \r\nClose this program and disconnect K9 from your PC.";
const std::string kFailed = "Sentrel K9 updating unsuccessful";
const std::string kWrongPort =
    "Unable to communicate with device. Please check connections and try again. You may have "
    "the wrong Com Port selected.";

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

struct Row {
    std::string name;
    std::function<void(SimOptions&, FtpFaults&)> arrange;
    std::string status;
    std::string stages;              // the stage lines in order
    std::string lastMessage;         // start of the last message box, if any
    std::vector<std::string> holds;  // lines the trace must have
};

class SupportTraceRun : public ::testing::TestWithParam<Row> {
  protected:
    static void SetUpTestSuite() { server_ = new LocalFtpServer({{kSerial, kPassword, kSerial}}); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static LocalFtpServer* server_;
};

LocalFtpServer* SupportTraceRun::server_ = nullptr;

TEST_P(SupportTraceRun, TellsWhatHappenedWithoutTheCredentials) {
    const Row& row = GetParam();
    std::string file;
    for (int i = 0; i < 60; ++i) {
        file += "51." + std::to_string(10000 + i) + ",-0.2,CAM,30,ROW" + std::to_string(i) + "\r\n";
    }
    server_->removeFile(kSerial, kSerial + ".txt");
    server_->putFile(kSerial, "LocationsLite.txt", file);
    SimOptions unit;
    unit.saveMs = 3000;
    FtpFaults faults;
    row.arrange(unit, faults);
    server_->setFaults(faults);

    const std::string folder = fs::temp_directory_path() / ("k9_traces_" + row.name);
    fs::remove_all(folder);
    {
        VirtualEventLoop loop;
        SimUnit sim(unit);
        SimSerialLine line(loop, sim, 1);
        const auto factory = [&loop] {
            return std::make_shared<cFTP>(
                loop, InternetSettings{.connectTimeout = 2s, .stallTimeout = 2s});
        };
        test::ControllerHarness h(loop, line, server_->hostPort(), factory);
        h.controller().tracer().setup({true, folder, "test"});
        h.controller().cmdGo_Click();
        server_->clearFaults();
        EXPECT_EQ(h.view.status, row.status);
    }
    const auto files = traceFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    std::ifstream in(files[0]);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    fs::remove_all(folder);

    for (const std::string& secret : {kSerial, kPassword}) {
        for (const std::string& form : {secret, lower(secret), secret + ".txt"}) {
            EXPECT_EQ(text.find(form), std::string::npos) << form << "\n" << text;
        }
    }
    std::string stages;
    std::string lastMessage;
    std::string outcome;
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        if (const auto p = l.find("  stage "); p != std::string::npos) {
            stages += l.substr(p + 8, 1);
        } else if (const auto m = l.find("  msgbox "); m != std::string::npos) {
            lastMessage = l.substr(l.find("] ", m) + 2);
        } else if (const auto o = l.find("outcome: "); o != std::string::npos) {
            outcome = l.substr(o + 9);
        }
    }
    EXPECT_EQ(stages, row.stages);
    EXPECT_EQ(outcome, escapeTraceText(row.status));
    EXPECT_EQ(lastMessage.rfind(row.lastMessage, 0), 0u) << lastMessage;
    for (const std::string& wanted : row.holds) {
        EXPECT_NE(text.find(wanted), std::string::npos) << wanted << "\n" << text;
    }
}

const std::string kMasked = "K9*****";

INSTANTIATE_TEST_SUITE_P(
    Runs, SupportTraceRun,
    ::testing::Values(
        Row{"whole_run",
            [](SimOptions&, FtpFaults&) {},
            kUpdated,
            "12345678",
            "",
            {"rx    #FTPUN" + kMasked + "\\r\\n", "ftp>  USER " + kMasked, "ftp>  PASS ****",
             "ftp>  RETR LocationsLite.txt", "ftp>  STOR " + kMasked + ".txt",
             "download of LocationsLite.txt done", "60 data lines sent", "data  line 60: 51.10059",
             "tx    \\r\\n150\\r\\n", "port  line settings 38400,N,8,1",
             "driver's locations uploaded to the server", "libcurl: "}},
        Row{"lower_case_serial",
            [](SimOptions& u, FtpFaults&) { u.serialFault = SerialFault::kLowerCase; },
            kUpdated,
            "12345678",
            "",
            {"rx    #FTPUNk9*****", "ftp>  USER " + kMasked}},
        Row{"silent_unit",
            [](SimOptions& u, FtpFaults&) { u.silentFromStage = 1; },
            kWrongPort,
            "1",
            "",
            {"tmrCheck tick, retry count 10", "driver's locations not received"}},
        Row{"refused_login",
            [](SimOptions&, FtpFaults& f) { f.refuseLogin = true; },
            kFailed,
            "12345",
            "ftp open function: ",
            {"ftp<  530 Login refused.", "login to 127.0.0.1", "answer OK"}},
        Row{"unplugged_mid_file",
            [](SimOptions& u, FtpFaults&) { u.disconnectAfterLines = 30; },
            kFailed,
            "123456",
            "An Error occured while sending file to K9 (",
            {"data  line 31 failed", "30 data lines sent"}}),
    [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace k9
