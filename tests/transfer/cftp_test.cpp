#include "transfer/cftp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "error_number.h"
#include "file_bytes.h"
#include "ftp_test_support.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

using namespace std::chrono_literals;
using namespace ftptest;
using namespace test;

using Event = std::tuple<std::int32_t, std::int32_t, bool>;

// The events of a transfer: one per full chunk, never above the total, then the total. A
// download counts from 1.
std::vector<Event> transferEvents(std::int32_t total, bool download) {
    std::vector<Event> events;
    for (std::int32_t j = 1; j <= total / 255; ++j) {
        events.emplace_back(std::min(255 * j + (download ? 1 : 0), total), total, download);
    }
    events.emplace_back(total, total, download);
    return events;
}

std::string message(std::uint32_t code) {
    return internetErrorMessage(code);
}

class CftpTest : public FtpServerTest {
  protected:
    void SetUp() override {
        FtpServerTest::SetUp();
        makeClient(settings_);
    }
    void TearDown() override {
        if (ftp_) {
            ftp_->CloseConnection();
        }
        FtpServerTest::TearDown();
    }

    void makeClient(InternetSettings settings) {
        ftp_ = std::make_shared<cFTP>(loop_, settings);
        ftp_->setFileTransferProgress(
            [this](std::int32_t current, std::int32_t total, bool download) {
                events_.emplace_back(current, total, download);
            });
    }
    bool connect() { return ftp_->OpenConnection(server().hostPort(), kUser, kPassword); }
    // Connects, with this file on the server or, for an upload, as local up.txt.
    bool serve(const std::string& name, const std::string& bytes) {
        server().putFile(kUser, name, bytes);
        return connect();
    }
    bool offer(const std::string& bytes) {
        writeBytes(local("up.txt"), bytes);
        return connect();
    }
    // The text a failed call leaves; "succeeded" when it did not fail.
    template <typename Call>
    std::string failure(Call call) {
        return call() ? "succeeded" : ftp_->GetLastErrorMessage();
    }

    InternetSettings settings_{.connectTimeout = 10s, .stallTimeout = 10s};
    HookLoop loop_;
    std::shared_ptr<cFTP> ftp_;
    std::vector<Event> events_;
};

// --- Login ------------------------------------------------------------------------------

// Either mode set beforehand, the login is passive.
TEST_F(CftpTest, LogsInPassiveWhicheverModeWasSet) {
    server().putFile(kUser, "probe.txt", "x");
    for (void (cFTP::*setMode)() : {&cFTP::SetModeActive, &cFTP::SetModePassive}) {
        makeClient(settings_);
        server().clearCommandLog();
        loop_.yields = 0;
        (*ftp_.*setMode)();
        ASSERT_TRUE(connect()) << ftp_->GetLastErrorMessage();
        EXPECT_EQ(ftp_->GetFTPFileSize("probe.txt"), 1);
        const std::string log = server().commandLog();
        EXPECT_NE(log.find("USER " + std::string(kUser)), std::string::npos);
        EXPECT_TRUE(log.find("EPSV") != std::string::npos || log.find("PASV") != std::string::npos)
            << log;
        EXPECT_EQ(log.find("PORT"), std::string::npos) << log;
        EXPECT_EQ(log.find("EPRT"), std::string::npos) << log;
        EXPECT_GE(loop_.yields, 3);  // after attempting, after the session, after connecting
    }
}

// The server's reply, or the layer's text when there is none. Each try has a fresh client.
TEST_F(CftpTest, FailedLoginsLeaveTheirText) {
    auto login = [&](const std::string& host, const char* password, FtpFaults faults) {
        makeClient(settings_);
        server().setFaults(faults);
        return failure([&] { return ftp_->OpenConnection(host, kUser, password); });
    };
    const std::string here = server().hostPort();
    EXPECT_EQ(login(here, "wrong", {}), "530 Authentication failed.\r\n");
    EXPECT_EQ(login(here, kPassword, {.refuseLogin = true}), "530 Login refused.\r\n");
    EXPECT_EQ(login("127.0.0.1:1", kPassword, {}),
              "InternetConnect error code: 12029 Message: " + message(inet::kCannotConnect));
    settings_.connectTimeout = 700ms;
    EXPECT_EQ(login(here, kPassword, {.stallLogin = true}),
              "InternetConnect error code: 12002 Message: " + message(inet::kTimeout));
}

TEST_F(CftpTest, CloseWhileLoginWaitsCancelsIt) {
    // With the default 30 s limit, only the close can end this wait soon.
    makeClient(InternetSettings{});
    server().setFaults(FtpFaults{.stallLogin = true});
    std::weak_ptr<cFTP> weak = ftp_;
    loop_.onYield = [&](int turn) {
        // Turns 1 and 2 are the client's own; from 3 on the login is waiting.
        if (turn == 3) {
            weak.lock()->CloseConnection();
        }
    };
    EXPECT_FALSE(connect());
    EXPECT_EQ(ftp_->GetLastErrorMessage(),
              "InternetConnect error code: 12017 Message: " + message(inet::kOperationCancelled));
}

// --- Size -------------------------------------------------------------------------------

// Sizes, and downloads refused for an empty, missing or blank name before anything is touched,
// record nothing; a local file that cannot be created raises a run-time error.
TEST_F(CftpTest, SizesNamesAndRefusedDownloads) {
    server().putFile(kUser, "present.qk", std::string(1234, 'p'));
    server().putFile(kUser, "empty.qk", "");
    server().putFile(kUser, "Cameras.qk", "12345");
    server().putFile(kUser, "Cameras Schools.qk", std::string(77, 'c'));
    // Not logged in: the whole-file calls fail, never pretend.
    EXPECT_FALSE(ftp_->SimpleFTPGetFile(local("n.qk"), "present.qk"));
    EXPECT_FALSE(ftp_->SimpleFTPPutFile(local("n.qk"), "present.qk"));
    ASSERT_TRUE(connect());
    // A known text left behind, to show that the calls below record nothing.
    server().setFaults(FtpFaults{.refuseList = true});
    ASSERT_EQ(ftp_->GetFTPFileSize("anything"), -2);
    server().clearFaults();
    ASSERT_EQ(ftp_->GetLastErrorMessage(), "550 Listing refused.\r\n");
    EXPECT_EQ(ftp_->GetFTPFileSize("present.qk"), 1234);
    EXPECT_EQ(ftp_->GetFTPFileSize("empty.qk"), 0);
    EXPECT_EQ(ftp_->GetFTPFileSize("missing.qk"), -1);
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("a.qk"), "empty.qk"));
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("b.qk"), "missing.qk"));
    EXPECT_FALSE(ftp_->FTPDownloadFile("   ", "Cameras.qk"));
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("x.qk"), "  "));
    EXPECT_FALSE(std::filesystem::exists(local("a.qk")));
    EXPECT_FALSE(std::filesystem::exists(local("b.qk")));
    EXPECT_EQ(ftp_->GetLastErrorMessage(), "550 Listing refused.\r\n");
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(
        errorNumberOf([&] { ftp_->FTPDownloadFile(local("no/such/folder/x.qk"), "Cameras.qk"); }),
        err::kFileNotFound);
    // The remote file was closed on the way out: the connection still serves. Blanks around
    // the names are trimmed, and a longer local file is replaced.
    writeBytes(local("x.qk"), std::string(5000, 'o'));
    EXPECT_TRUE(ftp_->FTPDownloadFile("  " + local("x.qk") + " ", " Cameras.qk  "));
    EXPECT_EQ(readBytes(local("x.qk")), "12345");

    // A name with blanks is found through wildcards.
    server().clearCommandLog();
    EXPECT_EQ(ftp_->GetFTPFileSize("Cameras Schools.qk"), 77);
    EXPECT_NE(server().commandLog().find("LIST"), std::string::npos);
    // The transfer itself asks for the name as it is.
    ASSERT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "Cameras Schools.qk"))
        << ftp_->GetLastErrorMessage();
    EXPECT_EQ(readBytes(local("temp.qk")), std::string(77, 'c'));
    EXPECT_NE(server().commandLog().find("RETR Cameras Schools.qk"), std::string::npos);
}

// MDTM's time in seconds since the epoch; 0 from a server without MDTM; -1 with the reply for
// a missing file. The connection serves on after each.
TEST_F(CftpTest, RemoteFileTimes) {
    server().putFile(kUser, "dated.qk", "12345");
    setModified(server().pathOf(kUser, "dated.qk"), 1793628000);
    ASSERT_TRUE(connect());
    struct Row {
        const char* name;
        bool noMdtm;
        std::int64_t time;
        std::string text;
    };
    const Row rows[] = {{"dated.qk", false, 1793628000, ""},
                        {"dated.qk", true, 0, ""},
                        {"missing.qk", false, -1, "550 "},
                        {"", false, -1, "FtpGetFileTime error code: 87 "}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name + std::string(row.noMdtm ? " without MDTM" : ""));
        server().setFaults(FtpFaults{.refuseMdtm = row.noMdtm});
        EXPECT_EQ(ftp_->remoteFileTime(row.name), row.time);
        if (!row.text.empty()) {
            EXPECT_EQ(ftp_->GetLastErrorMessage().substr(0, row.text.size()), row.text);
        }
        EXPECT_EQ(ftp_->GetFTPFileSize("dated.qk"), 5);
    }
}

// --- Download ---------------------------------------------------------------------------

// Each row: a size, and whether the whole-file call moves it (without events) or the chunked
// one.
class CftpDownloadSizes : public CftpTest,
                          public ::testing::WithParamInterface<std::tuple<std::int32_t, bool>> {};

TEST_P(CftpDownloadSizes, ArrivesByteForByteWithTheDesignedEvents) {
    const auto [size, whole] = GetParam();
    const std::string bytes = testBytes(static_cast<std::size_t>(size), 7u + size);
    ASSERT_TRUE(serve("data.qk", bytes));
    ASSERT_TRUE(whole ? ftp_->SimpleFTPGetFile(local("temp.qk"), "data.qk")
                      : ftp_->FTPDownloadFile(local("temp.qk"), "data.qk"))
        << ftp_->GetLastErrorMessage();
    EXPECT_TRUE(readBytes(local("temp.qk")) == bytes);
    EXPECT_EQ(events_, whole ? std::vector<Event>{} : transferEvents(size, true));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CftpDownloadSizes,
                         ::testing::Combine(::testing::Values(1, 254, 255, 256, 255 * 4,
                                                              1024 * 1024 + 17),
                                            ::testing::Bool()));

TEST_F(CftpTest, ReadsEverythingTheServerSendsBeyondTheListedSize) {
    const std::string bytes = testBytes(1000, 3);
    server().setFaults(FtpFaults{.listSizeDelta = -300});  // listed as 700
    ASSERT_TRUE(serve("long.qk", bytes));
    ASSERT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "long.qk"));
    EXPECT_TRUE(readBytes(local("temp.qk")) == bytes);
    ASSERT_FALSE(events_.empty());
    for (const Event& e : events_) {
        EXPECT_LE(std::get<0>(e), 700);
        EXPECT_EQ(std::get<1>(e), 700);
    }
    EXPECT_EQ(events_.back(), Event(700, 700, true));
}

// Each row: what the server does, and the text the failed download leaves.
struct Misbehaviour {
    const char* name;
    FtpFaults faults;
    std::string text;
};

class CftpDownloadFaults : public CftpTest, public ::testing::WithParamInterface<Misbehaviour> {};

TEST_P(CftpDownloadFaults, FailsWithTheTextAndTheConnectionStillServes) {
    makeClient({.connectTimeout = 10s, .stallTimeout = 1500ms});
    const std::string bytes = testBytes(3000, 11);
    ASSERT_TRUE(serve("data.qk", bytes));
    server().setFaults(GetParam().faults);
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("temp.qk"), "data.qk"));
    EXPECT_EQ(ftp_->GetLastErrorMessage(), GetParam().text);
    if (GetParam().faults.retr550 || GetParam().faults.refuseList) {
        EXPECT_FALSE(std::filesystem::exists(local("temp.qk")));  // refused before it was opened
    }
    for (const Event& e : events_) {
        EXPECT_LE(std::get<0>(e), std::get<1>(e));
    }

    server().clearFaults();
    events_.clear();
    ASSERT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "data.qk")) << ftp_->GetLastErrorMessage();
    EXPECT_TRUE(readBytes(local("temp.qk")) == bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Server, CftpDownloadFaults,
    ::testing::Values(
        Misbehaviour{"RefusedListing", FtpFaults{.refuseList = true}, "550 Listing refused.\r\n"},
        Misbehaviour{"Retrieve550", FtpFaults{.retr550 = true}, "550 File unavailable.\r\n"},
        Misbehaviour{"DroppedHalfWay", FtpFaults{.dropData = true},
                     "426 Connection closed; transfer aborted.\r\n"},
        Misbehaviour{
            "ResetHalfWay", FtpFaults{.resetData = true},
            "InternetReadFile error code: 12031 Message: " + message(inet::kConnectionReset)},
        Misbehaviour{"StalledHalfWay", FtpFaults{.stallData = true},
                     "InternetReadFile error code: 12002 Message: " + message(inet::kTimeout)},
        // Listed as 3100: the data ends inside the last full chunk.
        Misbehaviour{
            "FewerBytesThanListed", FtpFaults{.listSizeDelta = 100},
            "InternetReadFile error code: 12030 Message: " + message(inet::kConnectionAborted)},
        Misbehaviour{"FailedAtItsEnd", FtpFaults{.failAfterData = true},
                     "451 Transfer failed at the server's end.\r\n"},
        // Listed as 3010: the data ends where the short last chunk was due.
        Misbehaviour{
            "FewerBytesInLastChunk", FtpFaults{.listSizeDelta = 10},
            "InternetReadFile2 error code: 12030 Message: " + message(inet::kConnectionAborted)}),
    [](const ::testing::TestParamInfo<Misbehaviour>& info) { return info.param.name; });

// Slow to wake: the data and the reset are both in by the time the open looks. The file still
// opens, and the read that meets the reset reports it, as on a quicker turn.
TEST_F(CftpTest, AResetThatCameDuringTheOpenIsMetByTheRead) {
    ASSERT_TRUE(serve("data.qk", testBytes(3000, 11)));
    server().setFaults(FtpFaults{.resetData = true});
    loop_.onYield = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("temp.qk"), "data.qk"));
    loop_.onYield = nullptr;
    EXPECT_EQ(ftp_->GetLastErrorMessage(),
              "InternetReadFile error code: 12031 Message: " + message(inet::kConnectionReset));
}

// --- Upload -----------------------------------------------------------------------------

class CftpUploadSizes : public CftpTest,
                        public ::testing::WithParamInterface<std::tuple<std::int32_t, bool>> {};

TEST_P(CftpUploadSizes, ArrivesByteForByteWithTheDesignedEvents) {
    const auto [size, whole] = GetParam();
    const std::string bytes = testBytes(static_cast<std::size_t>(size), 100u + size);
    writeBytes(local("K9-100234.txt"), bytes);
    ASSERT_TRUE(connect());
    ASSERT_TRUE(whole ? ftp_->SimpleFTPPutFile(local("K9-100234.txt"), "K9-100234.txt")
                      : ftp_->FTPUploadFile(local("K9-100234.txt"), "K9-100234.txt"))
        << ftp_->GetLastErrorMessage();
    EXPECT_TRUE(server().readFile(kUser, "K9-100234.txt") == bytes);
    EXPECT_EQ(events_, whole ? std::vector<Event>{} : transferEvents(size, false));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CftpUploadSizes,
                         ::testing::Combine(::testing::Values(0, 90, 600, 1024 * 1024),
                                            ::testing::Bool()));

// Refused, rejected or raised: never an upload reported that did not happen, and the client
// goes on.
TEST_F(CftpTest, FailedUploads) {
    const std::string bytes = testBytes(600, 5);
    ASSERT_TRUE(offer(bytes));
    auto upload = [&](const std::string& from, const std::string& to) {
        return failure([&] { return ftp_->FTPUploadFile(from, to); });
    };
    // A blank name is refused before anything is sent.
    EXPECT_EQ(upload(" ", "x.txt"), "");
    EXPECT_EQ(upload(local("x.txt"), ""), "");
    EXPECT_EQ(upload(local("up.txt"), "no-such-folder/up.txt").substr(0, 4), "550 ");
    // The whole-file calls record their own labels.
    EXPECT_EQ(failure([&] { return ftp_->SimpleFTPPutFile(local("absent.txt"), "a.txt"); }),
              "SimpleFtpPutFile error code: 2 Message: ");
    EXPECT_EQ(
        failure([&] { return ftp_->SimpleFTPGetFile(local("a.txt"), "absent.txt"); }).substr(0, 4),
        "550 ");
    EXPECT_EQ(failure([&] { return ftp_->SimpleFTPGetFile(local("no/such/a.txt"), "up.txt"); }),
              "SimpleFtpGetFile error code: 2 Message: ");
    EXPECT_TRUE(events_.empty());
    server().setFaults(FtpFaults{.rejectStore = true});  // at its end
    EXPECT_EQ(upload(local("up.txt"), "up.txt"),
              "552 Requested file action aborted. Exceeded storage allocation.\r\n");
    EXPECT_EQ(events_, transferEvents(600, false));
    server().clearFaults();
    EXPECT_EQ(errorNumberOf([&] { ftp_->FTPUploadFile(local("absent.txt"), "absent.txt"); }),
              err::kFileNotFound);
    EXPECT_EQ(upload(local("up.txt"), "present.txt"), "succeeded");
    EXPECT_TRUE(server().readFile(kUser, "present.txt") == bytes);
}

TEST_F(CftpTest, LoopKeepsTurningWhileTheServerTakesItsTimeToAcceptAndHandlersMayThrow) {
    ASSERT_TRUE(offer(testBytes(600, 6)));
    server().setFaults(FtpFaults{.slowFinalReply = 2.5});
    int turnsAtLastEvent = -1;
    ftp_->setFileTransferProgress([&](std::int32_t current, std::int32_t total, bool) {
        if (current == total) {
            turnsAtLastEvent = loop_.yields;
        }
    });
    EXPECT_TRUE(ftp_->FTPUploadFile(local("up.txt"), "up.txt")) << ftp_->GetLastErrorMessage();
    // The client itself does not yield after its last event: these turns are the layer's,
    // given while libcurl waits for the verdict inside a single call.
    EXPECT_GE(loop_.yields - turnsAtLastEvent, 2);

    // A handler's error while waiting for the verdict reaches the caller.
    server().setFaults(FtpFaults{.slowFinalReply = 1.5});
    turnsAtLastEvent = -1;
    loop_.onYield = [&](int) {
        if (turnsAtLastEvent >= 0) {
            throw RuntimeError(err::kDeviceIo, "test", "raised by a handler");
        }
    };
    EXPECT_THROW(ftp_->FTPUploadFile(local("up.txt"), "up.txt"), RuntimeError);
    loop_.onYield = nullptr;
    server().clearFaults();
    // The failed transfer was closed; the client can go on.
    EXPECT_TRUE(ftp_->FTPUploadFile(local("up.txt"), "again.txt")) << ftp_->GetLastErrorMessage();
}

// --- Closed or released while a call yields ----------------------------------------------

TEST_F(CftpTest, CloseAndReleaseFromTheProgressEvent) {
    ASSERT_TRUE(serve("data.qk", testBytes(100000, 1)));
    std::weak_ptr<cFTP> weak = ftp_;
    int seen = 0;
    ftp_->setFileTransferProgress([&](std::int32_t, std::int32_t, bool) {
        if (++seen == 1) {
            weak.lock()->CloseConnection();  // the Close button
            ftp_.reset();                    // and the owner lets go
        }
    });
    std::shared_ptr<cFTP> caller = ftp_;  // the running operation holds its own
    EXPECT_FALSE(caller->FTPDownloadFile(local("temp.qk"), "data.qk"));
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(caller->GetLastErrorMessage(), "InternetReadFile error code: 6 Message: ");
    caller.reset();
    EXPECT_TRUE(weak.expired());
}

TEST_F(CftpTest, CloseWhileTheLayerWaitsCancelsTheRead) {
    // A stalled server and the default 60 s limit: only the close can end this soon.
    makeClient(InternetSettings{});
    ASSERT_TRUE(serve("data.qk", testBytes(3000, 2)));
    server().setFaults(FtpFaults{.stallData = true});
    std::weak_ptr<cFTP> weak = ftp_;
    bool armed = false;
    bool closed = false;
    // The server sends 1500 bytes: after the fifth chunk the next read has to wait.
    ftp_->setFileTransferProgress(
        [&](std::int32_t current, std::int32_t, bool) { armed = current > 1500 - 255; });
    loop_.onYield = [&](int) {
        if (armed && !closed) {
            closed = true;
            weak.lock()->CloseConnection();
            ftp_.reset();
        }
    };
    std::shared_ptr<cFTP> caller = ftp_;
    EXPECT_FALSE(caller->FTPDownloadFile(local("temp.qk"), "data.qk"));
    EXPECT_TRUE(closed);
    EXPECT_EQ(caller->GetLastErrorMessage(),
              "InternetReadFile error code: 12017 Message: " + message(inet::kOperationCancelled));
}

TEST_F(CftpTest, ReleaseDuringAnUploadLetsItFinish) {
    const std::string bytes = testBytes(5000, 4);
    ASSERT_TRUE(offer(bytes));
    ftp_->setFileTransferProgress([&](std::int32_t, std::int32_t, bool) { ftp_.reset(); });
    std::shared_ptr<cFTP> caller = ftp_;
    std::weak_ptr<cFTP> weak = ftp_;
    EXPECT_TRUE(caller->FTPUploadFile(local("up.txt"), "up.txt"));
    caller.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(server().readFile(kUser, "up.txt") == bytes);
}

}  // namespace
}  // namespace k9
