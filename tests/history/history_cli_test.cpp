// k9update --check, --history and --forget as a weekly timer or a user runs them: the program
// against the local FTP server, with the history in a private state folder.
#include <QProcess>
#include <QProcessEnvironment>
#include <fstream>

#include "file_bytes.h"
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
        path_ = dir_ + "/k9updater/history.db";
        std::ofstream(dir_ + "/k9.conf") << "ftp_host = " << server_->hostPort() << "\n";
        const RunRecord updated = unitRun(kSerial, RunEnd::Updated, kServed + 3600, kServed, 4800);
        ASSERT_EQ(HistoryStore(path_, noter()).add(*historyEntryFor(updated, "1.0.0")),
                  HistoryStore::Write::Done);
    }
    static void SetUpTestSuite() {
        server_ = std::make_unique<LocalFtpServer>(
            std::vector<FtpAccount>{{kSerial, "10KHC9K", kSerial}, {"K9NEW", "WEN9K", "K9NEW"}});
    }
    static void TearDownTestSuite() { server_.reset(); }

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
    const FtpFaults none, noMdtm{.refuseMdtm = true}, noLogin{.refuseLogin = true};
    struct Row {
        const char* name;
        std::time_t modified;  // 0: the file is missing
        std::size_t size;
        FtpFaults faults;
        const char* serial;  // asked for by name; none: every unit the history knows
        int code;
        const char* says;
    };
    const Row rows[] = {
        {"older", kServed - 86400, 4800, none, nullptr, 0,
         "K9CHK01: up to date (Cameras, updated "},
        {"same", kServed, 4800, none, nullptr, 0, "K9CHK01: up to date"},
        {"newer", kServed + 7 * 86400, 4800, none, nullptr, 10,
         "K9CHK01: a newer Cameras database of "},
        {"missing", 0, 4800, none, nullptr, 4,
         "K9CHK01: the server could not be asked (LocationsLite.txt is not on the server)."},
        {"no MDTM, same size", kServed + 7 * 86400, 4800, noMdtm, nullptr, 0,
         "so the size alone decided)."},
        {"no MDTM, another size", kServed, 5000, noMdtm, nullptr, 10,
         "so the size alone decided)."},
        {"login refused", kServed, 4800, noLogin, nullptr, 4,
         "could not be asked (login: 530 Login refused.)."},
        // A unit the history does not know has nothing to be up to date with.
        {"unknown unit", kServed, 4800, none, "k9new", 10,
         "K9NEW: never updated on this computer; Cameras of "},
    };
    server_->putFile("K9NEW", "LocationsLite.txt", std::string(4800, 'x'));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        server_->setFaults(row.faults);
        if (row.modified == 0) {
            server_->removeFile(kSerial, "LocationsLite.txt");
        } else {
            server_->putFile(kSerial, "LocationsLite.txt", std::string(row.size, 'x'));
            setModified(server_->pathOf(kSerial, "LocationsLite.txt"), row.modified);
        }
        const QStringList byName{"--serial", row.serial, "--edition", "cameras"};
        std::string out;
        EXPECT_EQ(k9update(QStringList{"--check"} + (row.serial ? byName : QStringList{}), out),
                  row.code)
            << out;
        EXPECT_NE(out.find(row.says), std::string::npos) << out;
    }
}

TEST_F(HistoryCliTest, HistoryListsAndForgetDeletes) {
    struct Step {
        QStringList args;
        const char* says;
        bool whole;  // the whole output, else a piece of it
    };
    const Step steps[] = {
        {QStringList{"--history"}, "K9CHK01  Cameras  updated  120 of 120  uploaded", false},
        {QStringList{"--history", "--json"},
         "{\"serial\":\"K9CHK01\",\"started\":\"2026-11-02T12:58:50Z\"", false},
        {QStringList{"--history", "--json"}, "\"serverFileTime\":\"2026-11-02T12:00:00Z\"", false},
        // Nothing to delete is no failure.
        {QStringList{"--forget", "k9none"}, "Deleted 0 run(s) of K9NONE from the history.\n", true},
        {QStringList{"--forget", "k9chk01"}, "Deleted 1 run(s) of K9CHK01 from the history.\n",
         true},
        {QStringList{"--history"}, "No runs in the history.\n", true},
    };
    for (const Step& step : steps) {
        std::string out;
        EXPECT_EQ(k9update(step.args, out), 0) << out;
        EXPECT_TRUE(step.whole ? out == step.says : out.find(step.says) != std::string::npos)
            << step.says << " in " << out;
    }
}

}  // namespace
}  // namespace k9
