// Whole runs on the virtual clock, the simulated unit on the line and the local FTP server,
// each followed by the history's recorder: what every way of ending leaves behind.
#include <tuple>

#include "controller_harness.h"
#include "file_bytes.h"
#include "history/history_recorder.h"
#include "history_test_support.h"
#include "local_ftp_server.h"
#include "run_texts.h"
#include "sim_serial_line.h"
#include "sim_unit.h"

namespace k9 {
namespace {

using namespace test;

const std::string kSerial = "K9A1234";
constexpr std::time_t kServed = 1793620800;

TEST_F(HistoryTest, WholeRunsLeaveOneRecordEach) {
    LocalFtpServer server({{kSerial, "4321A9K", kSerial}});
    server.putFile(kSerial, "LocationsLite.txt", locationLines(120));
    setModified(server.pathOf(kSerial, "LocationsLite.txt"), kServed);
    struct Row {
        const char* name;
        SimOptions unit;
        bool closeHalfway;
        RunEnd end;
        std::int32_t linesSent;
        LocationsFate locations;
    };
    using enum RunEnd;
    const auto none = LocationsFate::NotOffered;
    const Row rows[] = {
        {"updated", {.saveMs = 3000}, false, Updated, 120, LocationsFate::Uploaded},
        {"unplugged while sending", {.disconnectAfterLines = 10}, false, Failed, 10, none},
        {"stopped", {}, true, Stopped, 60, none},
        {"no answer after the serial number", {.silentFromStage = 2}, false, NoAnswer, 0, none},
    };
    HistoryStore store(path_, noter());
    std::size_t recorded = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualEventLoop loop;
        SimUnit unit(row.unit);
        SimSerialLine line(loop, unit, 1);
        ControllerHarness h(loop, line, server.hostPort());
        HistoryRecorder recorder(store, "9.9.9", noter(), loop);
        h.controller().context().events.add(recorder);
        if (row.closeHalfway) {
            h.view.onStatus = [&](const std::string& text) {
                if (text == "Sending Data to K9... 50%") {
                    h.controller().cmdClose_Click();
                }
            };
        }
        h.controller().cmdGo_Click();
        ASSERT_EQ(store.runs().size(), ++recorded);
    }
    const auto runs = store.runs();
    ASSERT_EQ(runs.size(), std::size(rows));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Row& row = rows[std::size(rows) - 1 - i];
        const RunRecord& r = runs[i].run;
        SCOPED_TRACE(row.name);
        EXPECT_EQ(std::tie(r.serialNumber, r.end, r.linesSent, r.locations, r.remoteFile),
                  std::tie(kSerial, row.end, row.linesSent, row.locations, "LocationsLite.txt"));
        EXPECT_GT(r.started, 0);
        EXPECT_GE(r.ended, r.started);
        if (row.linesSent > 0) {
            EXPECT_EQ(r.lineCount, 120);
            EXPECT_EQ(r.serverFileSize, static_cast<std::int64_t>(locationLines(120).size()));
            EXPECT_EQ(r.serverFileTime, kServed);
        }
    }
    EXPECT_TRUE(notes_.empty()) << notes_.front();
}

}  // namespace
}  // namespace k9
