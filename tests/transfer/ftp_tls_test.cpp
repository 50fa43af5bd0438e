// FTP over TLS against servers the test starts on loopback, with certificates openssl makes for
// it: what each setting does with each kind of server, and what the user is told when it
// refuses.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "config/program_vars.h"
#include "diagnostics/support_trace.h"
#include "file_bytes.h"
#include "ftp_test_support.h"
#include "platform/busy_pointer.h"
#include "recording_view.h"
#include "test_certificates.h"
#include "transfer/cftp.h"
#include "transfer/server_operations.h"
#include "vsftpd_server.h"

namespace k9 {
namespace {

using namespace std::chrono_literals;
using namespace ftptest;
using Kind = TestCertificates::Kind;

struct NoPointer final : BusyPointer {
    void ShowBusyPointer() override {}
    void ShowNormalPointer() override {}
};

// A pyftpdlib or vsftpd server, plain or with TLS, and the login it takes.
struct Server {
    std::unique_ptr<LocalFtpServer> local;
    std::unique_ptr<VsftpdServer> vsftpd;
    std::string hostPort() const { return local ? local->hostPort() : vsftpd->hostPort(); }
    std::string user() const { return local ? kUser : "FTP"; }
    void put(const std::string& name, const std::string& bytes) const {
        local ? local->putFile(kUser, name, bytes) : vsftpd->putFile(name, bytes);
    }
    std::string read(const std::string& name) const {
        return local ? local->readFile(kUser, name) : vsftpd->readFile(name);
    }
};

struct Row {
    const char* name;
    bool vsftpd;
    std::optional<Kind> certificate;  // none: the server speaks no TLS
    bool serverRequiresTls;
    FtpTls mode;
    const char* memory;  // the memory of TLS servers before; "%" stands for "host port"
    // Expected: refused with this cause, or connected, encrypted or not.
    const char* cause;
    bool encrypted;
    bool remembered;  // the memory holds the server afterwards
};

const Row kRows[] = {
    {"vsftpd, reuse required", true, Kind::Good, false, FtpTls::Auto, "", nullptr, true, true},
    {"pyftpdlib, require", false, Kind::Good, false, FtpTls::Require, "", nullptr, true, false},
    {"auto, plain server", false, std::nullopt, false, FtpTls::Auto, "", nullptr, false, false},
    {"off, TLS server", false, Kind::Good, false, FtpTls::Off, "", nullptr, false, false},
    {"require, plain server", false, std::nullopt, false, FtpTls::Require, "", "does not offer TLS",
     false, false},
    {"remembered, now plain", false, std::nullopt, false, FtpTls::Auto, "%\n",
     "spoke TLS before but now", false, true},
    {"damaged memory naming it", false, std::nullopt, false, FtpTls::Auto, "x\n% \x01\n",
     "spoke TLS before but now", false, true},
    {"untrusted", false, Kind::Untrusted, false, FtpTls::Auto, "",
     "not signed by an authority this computer trusts", false, true},
    {"wrong name", false, Kind::OtherName, false, FtpTls::Auto, "",
     "made out to another name than 127.0.0.1", false, true},
    {"expired", false, Kind::Expired, false, FtpTls::Auto, "", "has expired", false, true},
    {"off, TLS required", false, Kind::Good, true, FtpTls::Off, "",
     "requires TLS, and ftp_tls = off", false, false},
    {"off, vsftpd requires TLS", true, Kind::Good, true, FtpTls::Off, "",
     "requires TLS, and ftp_tls = off", false, false},
};

TEST(FtpTls, EachSettingWithEachServer) {
    const TestCertificates certificates;
    const std::string memoryFile = certificates.folder() + "/state/ftp-tls-hosts";
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const FtpServerTls tls = row.certificate
                                     ? certificates.server(*row.certificate, row.serverRequiresTls)
                                     : FtpServerTls{};
        Server server;
        try {
            row.vsftpd ? (void)(server.vsftpd = std::make_unique<VsftpdServer>(tls))
                       : (void)(server.local = std::make_unique<LocalFtpServer>(
                                    std::vector<FtpAccount>{{kUser, kPassword, "unit"}}, tls));
        } catch (const std::runtime_error& e) {
            std::printf("[ SKIPPED  ] %s: %s\n", row.name, e.what());
            continue;
        }
        std::filesystem::remove_all(certificates.folder() + "/state");
        const std::string here = server.hostPort();
        const std::string line = "127.0.0.1 " + here.substr(here.find(':') + 1);
        std::string text = row.memory;
        if (!text.empty()) {
            text.replace(text.find('%'), 1, line);
            std::filesystem::create_directories(certificates.folder() + "/state");
            test::writeBytes(memoryFile, text);
        }
        const std::string tracePath = certificates.folder() + "/trace";
        std::filesystem::remove_all(tracePath);

        HookLoop loop;
        InternetSettings settings{.connectTimeout = 10s, .stallTimeout = 10s, .tls = row.mode};
        settings.caFile = certificates.caFile();
        settings.tlsHostsFile = memoryFile;
        test::RecordingView view;
        NoPointer pointer;
        const ProgramVars vars{.sTempFolder = certificates.folder() + "/"};
        ServerSession session;
        session.sSerialNumber = server.user();
        session.sFtpPassword = kPassword;
        session.mFTP = std::make_shared<cFTP>(loop, settings);
        const bool stopped = false;
        ServerOperations operations({view, pointer, vars, session, stopped, here});
        std::optional<FtpSessionInfo> info;
        session.mFTP->setSessionListener([&](const FtpSessionInfo& i) { info = i; });
        SupportTrace trace;
        std::string error;
        ASSERT_TRUE(trace.open(
            tracePath, "test", [] { return std::int64_t{0}; }, &error));
        trace.addSecret(kPassword, 0);
        trace.addSecret(kUser, 2);
        session.mFTP->setTrace(&trace);

        const bool connected = operations.ConnectToServer();
        ASSERT_EQ(connected, row.cause == nullptr)
            << (view.messages.size() > 1 ? view.messages[1].text : "");
        EXPECT_EQ(test::readBytes(memoryFile).find(line + "\n") != std::string::npos,
                  row.remembered);
        if (row.remembered && test::readBytes(memoryFile) != text) {
            // Written by the client: private, and rebuilt whole.
            EXPECT_EQ(test::modeOf(memoryFile), 0600u);
            EXPECT_EQ(test::readBytes(memoryFile).find('\x01'), std::string::npos);
        }
        if (!connected) {
            // The designed boxes, and the cause on a line of its own after the second.
            ASSERT_EQ(view.messages.size(), 2u);
            const std::string& text = view.messages[1].text;
            const std::string designed =
                "ftp open function: " + session.mFTP->GetLastErrorMessage();
            EXPECT_EQ(text.substr(0, designed.size()), designed);
            EXPECT_EQ(text.substr(designed.size()), session.mFTP->failureCause());
            EXPECT_NE(text.find(row.cause), std::string::npos) << text;
            continue;
        }
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->server, here);
        EXPECT_EQ(info->encrypted, row.encrypted);
        EXPECT_EQ(!info->tlsVersion.empty() && !info->cipher.empty(), row.encrypted);
        // Both ways, whole.
        const std::string bytes(70000, 'k');
        server.put("down.qk", bytes);
        test::writeBytes(vars.sTempFolder + "up.txt", bytes);
        ASSERT_TRUE(session.mFTP->FTPDownloadFile(vars.sTempFolder + "down.qk", "down.qk"))
            << session.mFTP->GetLastErrorMessage();
        EXPECT_TRUE(test::readBytes(vars.sTempFolder + "down.qk") == bytes);
        EXPECT_EQ(storeWhole(*session.mFTP, vars.sTempFolder + "up.txt", "up.txt"), "");
        EXPECT_TRUE(server.read("up.txt") == bytes);
        session.mFTP->CloseConnection();
        trace.close("done");
        const std::string traced = test::readBytes(traceFiles(tracePath).front());
        EXPECT_NE(traced.find(row.encrypted ? "encrypted on the control and data connections: " +
                                                  info->tlsVersion + ", " + info->cipher
                                            : " in clear ("),
                  std::string::npos)
            << traced;
        EXPECT_EQ(traced.find(kPassword), std::string::npos);
        EXPECT_EQ(traced.find(kUser), std::string::npos);
    }
}

}  // namespace
}  // namespace k9
