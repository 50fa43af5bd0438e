// k9update --check, --history and --forget as a weekly timer or a user runs them: the program
// against the local FTP server, with the history in a private state folder.
#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <fstream>

#include "history_test_support.h"
#include "local_ftp_server.h"

namespace k9 {
namespace {

using namespace test;

const std::string kSerial = "K9CHK01";
constexpr std::time_t kServed = 1793620800;  // the file the last update got

class HistoryCliTest : public HistoryTest {
  protected:
    void SetUp() override {
        HistoryTest::SetUp();
        path_ = dir_ + "/k9updater/history.db";
        std::ofstream(dir_ + "/k9.conf") << "ftp_host = " << server_->hostPort() << "\n";
    }
    static void SetUpTestSuite() {
        server_ = std::make_unique<LocalFtpServer>(
            std::vector<FtpAccount>{{kSerial, "10KHC9K", kSerial}, {"K9NEW", "WEN9K", "K9NEW"}});
    }
    static void TearDownTestSuite() { server_.reset(); }

    void serve(const std::string& bytes, std::time_t modified) {
        server_->putFile(kSerial, "LocationsLite.txt", bytes);
        std::filesystem::last_write_time(
            server_->pathOf(kSerial, "LocationsLite.txt"),
            std::filesystem::file_time_type::clock::from_sys(
                std::chrono::sys_seconds{std::chrono::seconds{modified}}));
    }
    void recordUpdate(std::int64_t size) {
        HistoryStore store(path_, noter());
        store.add(*historyEntryFor(unitRun(kSerial, RunEnd::Updated, kServed + 3600, kServed, size),
                                   "1.0.0"));
    }
    int k9update(const QStringList& args, std::string& out) {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", QString::fromStdString(dir_));
        cli.setProcessEnvironment(env);
        cli.start(K9UPDATE_PATH,
                  QStringList{"--config", QString::fromStdString(dir_ + "/k9.conf")} + args);
        EXPECT_TRUE(cli.waitForFinished(60000));
        out = cli.readAllStandardOutput().toStdString() + cli.readAllStandardError().toStdString();
        return cli.exitCode();
    }

    inline static std::unique_ptr<LocalFtpServer> server_;
};

TEST_F(HistoryCliTest, CheckComparesTheServersFileWithTheLastUpdate) {
    const std::string file(4800, 'x');
    struct Row {
        const char* name;
        std::time_t modified;  // 0: the file is missing
        std::size_t size;
        FtpFaults faults;
        int code;
        const char* says;
    };
    const Row rows[] = {
        {"older", kServed - 86400, 4800, {}, 0, "K9CHK01: up to date (Cameras, updated "},
        {"same", kServed, 4800, {}, 0, "K9CHK01: up to date"},
        {"newer", kServed + 7 * 86400, 4800, {}, 10, "K9CHK01: a newer Cameras database of "},
        {"missing",
         0,
         4800,
         {},
         4,
         "K9CHK01: the server could not be asked (LocationsLite.txt is not on the server)."},
        {"no MDTM, same size",
         kServed + 7 * 86400,
         4800,
         {.refuseMdtm = true},
         0,
         "so the size alone decided)."},
        {"no MDTM, another size",
         kServed,
         5000,
         {.refuseMdtm = true},
         10,
         "so the size alone decided)."},
        {"login refused",
         kServed,
         4800,
         {.refuseLogin = true},
         4,
         "could not be asked (login: 530 Login refused.)."},
    };
    recordUpdate(4800);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        server_->setFaults(row.faults);
        if (row.modified == 0) {
            server_->removeFile(kSerial, "LocationsLite.txt");
        } else {
            serve(std::string(row.size, 'x'), row.modified);
        }
        std::string out;
        EXPECT_EQ(k9update({"--check"}, out), row.code) << out;
        EXPECT_NE(out.find(row.says), std::string::npos) << out;
    }
    server_->clearFaults();
    // A unit the history does not know has nothing to be up to date with.
    server_->putFile("K9NEW", "LocationsLite.txt", file);
    std::string out;
    EXPECT_EQ(k9update({"--check", "--serial", "k9new", "--edition", "cameras"}, out), 10);
    EXPECT_NE(out.find("K9NEW: never updated on this computer; Cameras of "), std::string::npos)
        << out;
}

TEST_F(HistoryCliTest, HistoryListsAndForgetDeletes) {
    recordUpdate(4800);
    std::string out;
    EXPECT_EQ(k9update({"--history"}, out), 0);
    EXPECT_NE(out.find("K9CHK01  Cameras  updated  120 of 120  uploaded"), std::string::npos)
        << out;
    EXPECT_EQ(k9update({"--history", "--json"}, out), 0);
    EXPECT_NE(out.find("{\"serial\":\"K9CHK01\",\"started\":\"2026-11-02T12:58:50Z\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"serverFileTime\":\"2026-11-02T12:00:00Z\""), std::string::npos) << out;
    EXPECT_EQ(k9update({"--forget", "k9chk01"}, out), 0);
    EXPECT_EQ(out, "Deleted 1 run(s) of K9CHK01 from the history.\n");
    EXPECT_EQ(k9update({"--history"}, out), 0);
    EXPECT_EQ(out, "No runs in the history.\n");
}

}  // namespace
}  // namespace k9
