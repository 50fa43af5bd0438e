// k9update as a user runs it: the program against the simulator on a pseudo-terminal and the
// local FTP server, judged by its exit code, its output and what reached the server.
#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

#include "file_bytes.h"
#include "local_ftp_server.h"
#include "pty_device.h"
#include "run_texts.h"

namespace k9 {
namespace {

const std::string kSerial = "K9CLI01";
const std::string kLocations = "51.11111,-0.22222,30,HOME\r\n51.33333,-0.44444,30,WORK\r\n";

// A temporary working folder, a configuration naming the server and COM1, and the unit.
class K9UpdateTest : public ::testing::Test {
  protected:
    K9UpdateTest() : server_({{kSerial, "10ILC9K", kSerial}, {"K9CLI02", "20ILC9K", "K9CLI02"}}) {
        server_.putFile(kSerial, "LocationsLite.txt", file_);
        writeConfig(dir_.filePath("ttyK9"));
        std::ofstream(path("stored.txt"), std::ios::binary) << kLocations;
        std::ofstream(path("work/QK.ini"), std::ios::binary) << "*1*1*t*\r\n";
    }
    ~K9UpdateTest() override {
        sim_.kill();
        sim_.waitForFinished(5000);
    }

    std::string path(const QString& name) const { return dir_.filePath(name).toStdString(); }

    // COM1 is com1, COM2 to COM12 ttyK9-2 to ttyK9-12 (existing only when a unit is there).
    void writeConfig(const QString& com1) {
        QDir(dir_.path()).mkpath("work");
        std::ofstream conf(path("k9.conf"));
        conf << "ftp_host = " << server_.hostPort() << "\nwork_dir = " << path("work")
             << "\n[ports]\nCOM1 = " << com1.toStdString() << "\n";
        for (int port = 2; port <= 12; ++port) {
            conf << "COM" << port << " = " << path("ttyK9-" + QString::number(port)) << "\n";
        }
    }

    void startUnit(const QStringList& faults, QProcess& sim, const QString& link = "ttyK9") {
        sim.start(K9SIM_PATH,
                  QStringList{"--serial", QString::fromStdString(kSerial), "--link",
                              dir_.filePath(link), "--locations", dir_.filePath("stored.txt"),
                              "--received", dir_.filePath(link + ".received"), "--start-ms", "300",
                              "--reply-ms", "100", "--save-ms", "500", "--timeout", "120"} +
                      faults);
        ASSERT_TRUE(sim.waitForStarted(10000));
        ASSERT_TRUE(sim.waitForReadyRead(10000));
    }
    void startUnit(const QStringList& faults) { startUnit(faults, sim_); }

    void startCli(QProcess& cli, const QStringList& args) {
        cli.start(K9UPDATE_PATH, QStringList{"--config", dir_.filePath("k9.conf")} + args);
        ASSERT_TRUE(cli.waitForStarted(10000));
    }

    // Reads the run's stderr until `text` shows, or the run ends.
    static void waitFor(QProcess& cli, const char* text) {
        QByteArray shown;
        while (cli.state() == QProcess::Running && !shown.contains(text)) {
            cli.waitForReadyRead(1000);
            shown += cli.readAllStandardError();
        }
    }

    int runCli(const QStringList& args, std::string& err, std::string* out = nullptr) {
        QProcess cli;
        startCli(cli, args);
        EXPECT_TRUE(cli.waitForFinished(150000));
        err = cli.readAllStandardError().toStdString();
        if (out != nullptr) {
            *out = cli.readAllStandardOutput().toStdString();
        }
        return cli.exitCode();
    }

    QTemporaryDir dir_;
    const std::string file_ = test::locationLines(300);
    LocalFtpServer server_;
    QProcess sim_;
};

const QStringList kRun = {"--port", "1", "--edition", "cameras"};

struct RunRow {
    const char* name;
    QStringList unitFaults;  // empty: no unit at all
    FtpFaults faults;
    bool absentPort;
    int code;
    const char* stderrText;
    const char* outcome;  // the one line on stdout
};

TEST_F(K9UpdateTest, ExitCodeTellsHowTheRunEnded) {
    const QStringList yes{"--answer", "yes"}, noUnit{}, silent{"--silent-from", "1"};
    const FtpFaults none{}, refuseLogin{.refuseLogin = true}, rejectStore{.rejectStore = true};
    const RunRow rows[] = {
        {"absent port", noUnit, none, true, 5,
         "selected COM port, try a different port number.\nThere is no device",
         "COM1 could not be opened"},
        {"whole run", yes, none, false, 0, "COM1 (", "Sentrel K9 updated.\n"},
        {"refused login", yes, refuseLogin, false, 4, "ftp open function: ",
         "Sentrel K9 updating unsuccessful: the server could not be reached"},
        {"upload refused", yes, rejectStore, false, 6, "have not been sent to the Quillmark Server",
         "Sentrel K9 updated. Its stored locations did not reach the server; they are kept in "},
        {"silent unit", silent, none, false, 3, "stage 1: waiting for the unit",
         "Sentrel K9 updating unsuccessful: the unit did not answer"},
    };
    for (const RunRow& row : rows) {
        SCOPED_TRACE(row.name);
        server_.removeFile(kSerial, kSerial + ".txt");
        server_.setFaults(row.faults);
        writeConfig(row.absentPort ? dir_.filePath("no-such-tty") : dir_.filePath("ttyK9"));
        if (!row.unitFaults.isEmpty()) {
            startUnit(row.unitFaults);
        }
        std::string err, out;
        EXPECT_EQ(runCli(kRun, err, &out), row.code) << err;
        EXPECT_NE(err.find(row.stderrText), std::string::npos) << err;
        // One line on stdout, the outcome; never said on stderr as well.
        EXPECT_EQ(out.rfind(row.outcome, 0), 0u) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(err.find(out.substr(0, 20)), std::string::npos) << err;
        if (row.absentPort) {
            // Nothing opened, nothing left behind.
            EXPECT_FALSE(QFile::exists(dir_.filePath("work/COM1")));
        } else {
            EXPECT_EQ(test::modeOf(dir_.filePath("work/COM1").toStdString()), 0700u);
        }
        if (row.code == 6) {
            EXPECT_EQ(test::readBytes(path("work/COM1/K9CLI01.txt")), kLocations + "\r\n");
        } else {
            EXPECT_EQ(server_.hasFile(kSerial, kSerial + ".txt"), row.code == 0);
        }
        if (row.code == 0) {
            EXPECT_EQ(server_.readFile(kSerial, kSerial + ".txt"), kLocations + "\r\n");
            // Over the pseudo-terminal: the handshake, the file as stored, the closing codes.
            ASSERT_TRUE(sim_.waitForFinished(20000));
            EXPECT_EQ(test::readBytes(path("ttyK9.received")),
                      "\r\n0\r\n\r\n0\r\n\r\n0\r\n\r\n150\r\n" + file_ +
                          "\x03\r\n\r\n368\r\n\r\n0\r\n\r\n368\r\n");
        }
        sim_.kill();
        sim_.waitForFinished(5000);
    }
}

// As a user the device does not let in (nobody, when the tests run as root): the same
// advice as the window gives, with the command to type.
TEST(K9UpdatePermission, ADeniedPortSaysWhatToType) {
    QTemporaryDir dir;
    test::PtyDevice pty;
    ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0755), 0);
    QDir(dir.path()).mkpath("work");
    ASSERT_EQ(::chmod(dir.filePath("work").toLocal8Bit().constData(), 0777), 0);
    if (::getuid() != 0) {
        ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
    }
    std::ofstream(dir.filePath("k9.conf").toStdString())
        << "work_dir = " << dir.filePath("work").toStdString()
        << "\n[ports]\nCOM1 = " << pty.slavePath() << "\n";
    QProcess cli;
    if (::getuid() == 0) {
        cli.setChildProcessModifier([] {
            const gid_t nobody = 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
                ::_exit(99);
            }
        });
    }
    cli.start(K9UPDATE_PATH, {"--config", dir.filePath("k9.conf"), "-p", "1", "-e", "cameras"});
    ASSERT_TRUE(cli.waitForFinished(30000));
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_EQ(cli.exitCode(), 5) << err;
    EXPECT_NE(err.find("You have no permission to use " + pty.slavePath()), std::string::npos)
        << err;
    EXPECT_NE(err.find("sudo usermod -aG "), std::string::npos) << err;
}

TEST_F(K9UpdateTest, InterruptKeepsFilesAndASecondRunOnThePortFailsAtOnce) {
    startUnit({"--answer", "yes"});
    QProcess first;
    startCli(first, kRun);
    waitFor(first, "stage 6");
    std::string err;
    EXPECT_EQ(runCli(kRun, err), 5) << err;
    EXPECT_NE(err.find("COM1 is already being updated by process"), std::string::npos) << err;
    QProcess list;
    startCli(list, {"--list-ports", "--json"});
    ASSERT_TRUE(list.waitForFinished(10000));
    // The port's state names the run that holds it.
    const QByteArray ports = list.readAllStandardOutput();
    EXPECT_NE(ports.indexOf("{\"port\":1,\"device\":\"" + dir_.filePath("ttyK9").toUtf8()), -1);
    EXPECT_NE(
        ports.indexOf("\"state\":\"in use (pid " + QByteArray::number(first.processId()) + ")\""),
        -1);

    ::kill(static_cast<pid_t>(first.processId()), SIGINT);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitCode(), 130);
    EXPECT_EQ(first.readAllStandardOutput(), "Sentrel K9 update stopped.\n");
    // Closed as "Close" closes: settings untouched, the downloaded file left for a look.
    EXPECT_EQ(test::readBytes(path("work/QK.ini")), "*1*1*t*\r\n");
    EXPECT_TRUE(QFile::exists(dir_.filePath("work/COM1/temp.qk")));
}

TEST_F(K9UpdateTest, AutoFindsTheUnitAndTwoPortsRunSideBySide) {
    QProcess silent, second;
    startUnit({"--silent-from", "1"}, silent, "ttyK9-2");
    startUnit({"--answer", "yes"}, second, "ttyK9-3");
    startUnit({"--answer", "yes"});
    QProcess atOnce;
    startCli(atOnce, kRun);
    // Once COM1's run holds its port, the search passes it by.
    waitFor(atOnce, "stage 1");
    std::string err;
    EXPECT_EQ(runCli({"--port", "auto", "--edition", "cameras"}, err), 0) << err;
    EXPECT_NE(err.find("Found the unit on COM3."), std::string::npos) << err;
    ASSERT_TRUE(atOnce.waitForFinished(150000));
    EXPECT_EQ(atOnce.exitCode(), 0) << atOnce.readAllStandardError().toStdString();
    for (QProcess* sim : {&silent, &second}) {
        sim->kill();
        sim->waitForFinished(5000);
    }
}

// Kept files of two units, one of them in two folders: each unit's go up in one file, each
// location once; a refused store leaves every file as it was.
TEST_F(K9UpdateTest, SendKeptSendsEachUnitsKeptLocationsOnce) {
    const std::string a = "1,1,30,A\r\n2,2,30,A\r\n\r\n", b = "2,2,30,A\r\n3,3,30,A\r\n\r\n";
    const std::string other = "9,9,30,B\r\n\r\n";
    const struct {
        const char* name;
        bool refuse;
        int code;
        const char* text;
    } rows[] = {
        {"refused", true, 6,
         "K9CLI01: 3 kept locations not sent (the server did not take the file)"},
        {"sent", false, 0,
         "K9CLI01: 3 kept locations sent to the server.\nK9CLI02: 1 kept location sent"},
        {"nothing kept", false, 0, "No kept locations."},
    };
    QDir(dir_.path()).mkpath("work/COM2");
    QDir(dir_.path()).mkpath("work/COM3");
    std::ofstream(path("work/K9CLI01.txt"), std::ios::binary) << a;
    std::ofstream(path("work/COM3/K9CLI01.txt"), std::ios::binary) << b;
    std::ofstream(path("work/COM2/K9CLI02.txt"), std::ios::binary) << other;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server_.setFaults(FtpFaults{.rejectStore = row.refuse});
        QProcess cli;
        startCli(cli, {"--send-kept"});
        ASSERT_TRUE(cli.waitForFinished(30000));
        const std::string out = cli.readAllStandardOutput().toStdString();
        EXPECT_EQ(cli.exitCode(), row.code) << out;
        EXPECT_NE(out.find(row.text), std::string::npos) << out;
        if (row.refuse) {
            EXPECT_EQ(test::readBytes(path("work/K9CLI01.txt")), a + "3,3,30,A\r\n");
            EXPECT_FALSE(QFile::exists(dir_.filePath("work/COM3/K9CLI01.txt")));
            EXPECT_EQ(test::readBytes(path("work/COM2/K9CLI02.txt")), other);
        }
    }
    EXPECT_EQ(server_.readFile(kSerial, kSerial + ".txt"), a + "3,3,30,A\r\n");
    EXPECT_EQ(server_.readFile("K9CLI02", "K9CLI02.txt"), other);
    EXPECT_FALSE(QFile::exists(dir_.filePath("work/K9CLI01.txt")));
    EXPECT_FALSE(QFile::exists(dir_.filePath("work/COM2/K9CLI02.txt")));
}

// Calls without a unit: bad usage exits 2 with the problem and the hint; a port list with no
// port says where it looked, and in JSON is empty (the parser's own rows: run_report_test).
TEST(K9UpdateWithoutAUnit, SaysWhatIsWrongOrWhatItFound) {
    QTemporaryDir dir;
    const std::string none = dir.filePath("none").toStdString(), conf = none + ".conf";
    std::ofstream(conf) << "[ports]\n";
    for (int port = 1; port <= 12; ++port) {
        std::ofstream(conf, std::ios::app) << "COM" << port << " = " << none << port << "\n";
    }
    const QString config = QString::fromStdString(conf);
    const struct {
        QStringList args;
        int code;
        std::string said;  // the start of stdout, or a piece of stderr for bad usage
    } rows[] = {
        {{"--frobnicate"}, 2, "Unknown option"},
        {{"--list-ports", "--config", "/no/such.conf"}, 2, "cannot read the configuration"},
        {{"--list-ports", "--config", config},
         0,
         "No serial port found. Looked for COM1 to COM12 at " + none + "1, " + none + "2, "},
        {{"--list-ports", "--json", "--config", config}, 0, "[]\n"},
    };
    for (const auto& row : rows) {
        QProcess cli;
        cli.start(K9UPDATE_PATH, row.args);
        ASSERT_TRUE(cli.waitForFinished(10000));
        const std::string out = cli.readAllStandardOutput().toStdString();
        const std::string err = cli.readAllStandardError().toStdString();
        EXPECT_EQ(cli.exitCode(), row.code) << err;
        if (row.code == 2) {
            EXPECT_NE(err.find(row.said), std::string::npos) << err;
            EXPECT_NE(err.find("k9update --help"), std::string::npos) << err;
        } else {
            EXPECT_EQ(out.rfind(row.said, 0), 0u) << out;
        }
    }
}

}  // namespace
}  // namespace k9
