// Whole runs with the support trace on, against the simulated unit and the local FTP server:
// the trace tells what happened, down to the failure the user saw, and never gives away the
// unit's serial number or its password.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "controller_harness.h"
#include "diagnostics/support_trace.h"
#include "file_bytes.h"
#include "local_ftp_server.h"
#include "run_texts.h"
#include "sim_serial_line.h"
#include "sim_unit.h"
#include "transfer/cftp.h"
#include "update/run_trace.h"

namespace k9 {
namespace {

using namespace test;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kSerial = "K9A1234";
const std::string kPassword = "4321A9K";

struct Row {
    std::string name;
    SimOptions unit;
    FtpFaults faults;
    std::string status;
    std::string stages;              // the stage lines in order
    std::string lastMessage;         // start of the last message box, if any
    std::vector<std::string> holds;  // lines the trace must have
};

Row row(std::string name, SimOptions unit, FtpFaults faults, std::string status, std::string stages,
        std::string lastMessage, std::vector<std::string> holds) {
    return {name, unit, faults, status, stages, lastMessage, holds};
}

class SupportTraceRun : public ::testing::TestWithParam<Row> {
  protected:
    static void SetUpTestSuite() {
        server_.reset(new LocalFtpServer({{kSerial, kPassword, kSerial}}));
    }
    static void TearDownTestSuite() { server_.reset(); }
    inline static std::unique_ptr<LocalFtpServer> server_;
};

TEST_P(SupportTraceRun, TellsWhatHappenedWithoutTheCredentials) {
    const Row& row = GetParam();
    server_->removeFile(kSerial, kSerial + ".txt");
    server_->putFile(kSerial, "LocationsLite.txt", locationLines(60));
    server_->setFaults(row.faults);

    const std::string folder = fs::temp_directory_path() / ("k9_traces_" + row.name);
    fs::remove_all(folder);
    {
        VirtualEventLoop loop;
        SimUnit sim(row.unit);
        SimSerialLine line(loop, sim, 1);
        const auto factory = [&loop] {
            return std::make_shared<cFTP>(
                loop, InternetSettings{.connectTimeout = 2s, .stallTimeout = 2s});
        };
        test::ControllerHarness h(loop, line, server_->hostPort(), factory);
        h.core().trace().setup({true, folder, "test"});
        h.controller().cmdGo_Click();
        server_->clearFaults();
        EXPECT_EQ(h.view.status, row.status);
    }
    const auto files = traceFiles(folder);
    ASSERT_EQ(files.size(), 1u);
    const std::string text = readBytes(files[0]);
    fs::remove_all(folder);

    for (const std::string& form : std::vector<std::string>{
             kSerial, kPassword, "k9a1234", "4321a9k", kSerial + ".txt", kPassword + ".txt"}) {
        EXPECT_EQ(text.find(form), std::string::npos) << form << "\n" << text;
    }
    std::string stages;
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        if (const auto p = l.find("  stage "); p != std::string::npos) {
            stages += l.substr(p + 8, 1);
        }
    }
    EXPECT_EQ(stages, row.stages);
    // The trace ends with what the user saw last.
    EXPECT_NE(text.find("outcome: " + escapeTraceText(row.status) + "\n"), std::string::npos);
    const auto box = text.rfind("  msgbox [");
    EXPECT_EQ(box == std::string::npos, row.lastMessage.empty());
    if (box != std::string::npos) {
        EXPECT_EQ(text.find("] " + row.lastMessage, box), text.find("] ", box));
    }
    for (const std::string& wanted : row.holds) {
        EXPECT_NE(text.find(wanted), std::string::npos) << wanted << "\n" << text;
    }
}

const std::string kMasked = "K9*****";

INSTANTIATE_TEST_SUITE_P(
    Runs, SupportTraceRun,
    ::testing::Values(
        row("whole_run", {}, {}, kUpdated, "123456789", "",
            {"rx    #FTPUN" + kMasked + "\\r\\n", "ftp>  USER " + kMasked, "ftp>  PASS ****",
             "ftp>  RETR LocationsLite.txt", "ftp>  STOR " + kMasked + ".txt",
             "download of LocationsLite.txt done", "60 data lines sent",
             "data  line 60: 51.10059,-0.20413,CAM,30,N59\\r\\n", "tx    \\r\\n150\\r\\n",
             "port  line settings 38400,N,8,1", "driver's locations uploaded to the server"}),
        row("lower_case_serial", {.serialFault = SerialFault::kLowerCase}, {}, kUpdated,
            "123456789", "", {"rx    #FTPUNk9*****", "ftp>  USER " + kMasked}),
        row("silent_unit", {.silentFromStage = 1}, {}, kWrongPort, "1", "",
            {"tmrCheck tick, retry count 10", "driver's locations not received"}),
        row("refused_login", {}, {.refuseLogin = true}, kFailed, "12345",
            "ftp open function: ", {"ftp<  530 Login refused.", "login to 127.0.0.1", "answer ok"}),
        row("unplugged_mid_file", {.disconnectAfterLines = 30}, {}, kFailed, "123456",
            "An Error occured while sending file to K9 (",
            {"data  line 31 failed", "30 data lines sent"})),
    [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace k9
