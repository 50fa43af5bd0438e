#include "transfer/cftp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "error_number.h"
#include "ftp_test_support.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

using namespace std::chrono_literals;
using namespace ftptest;

using Event = std::tuple<std::int32_t, std::int32_t, bool>;

// The events of a download: one per full chunk counting from 1, never above the total, then
// the total.
std::vector<Event> downloadEvents(std::int32_t size) {
    std::vector<Event> events;
    for (std::int32_t j = 1; j <= size / 255; ++j) {
        events.emplace_back(std::min(1 + 255 * j, size), size, true);
    }
    events.emplace_back(size, size, true);
    return events;
}

std::vector<Event> uploadEvents(std::int32_t total) {
    std::vector<Event> events;
    for (std::int32_t j = 1; j <= total / 255; ++j) {
        events.emplace_back(255 * j, total, false);
    }
    events.emplace_back(total, total, false);
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
    // Leaves a known text behind, to show that a later call records nothing.
    void recordSomething() {
        server().setFaults(FtpFaults{.refuseList = true});
        ASSERT_EQ(ftp_->GetFTPFileSize("anything"), -2);
        server().clearFaults();
        ASSERT_EQ(ftp_->GetLastErrorMessage(), "550 Listing refused.\r\n");
    }

    InternetSettings settings_ = [] {
        InternetSettings s;
        s.connectTimeout = 10s;
        s.stallTimeout = 10s;
        return s;
    }();
    HookLoop loop_;
    std::shared_ptr<cFTP> ftp_;
    std::vector<Event> events_;
};

// --- Login ------------------------------------------------------------------------------

TEST_F(CftpTest, LogsInPassiveEvenAfterSetModeActive) {
    server().putFile(kUser, "probe.txt", "x");
    server().clearCommandLog();
    ftp_->SetModeActive();
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

TEST_F(CftpTest, ServerRefusalsLeaveTheServersReply) {
    EXPECT_FALSE(ftp_->OpenConnection(server().hostPort(), kUser, "wrong"));
    EXPECT_EQ(ftp_->GetLastErrorMessage(), "530 Authentication failed.\r\n");

    server().setFaults(FtpFaults{.refuseLogin = true});
    EXPECT_FALSE(connect());
    EXPECT_EQ(ftp_->GetLastErrorMessage(), "530 Login refused.\r\n");
}

TEST_F(CftpTest, NobodyListeningCannotConnect) {
    EXPECT_FALSE(ftp_->OpenConnection("127.0.0.1:1", kUser, kPassword));
    EXPECT_EQ(ftp_->GetLastErrorMessage(),
              "InternetConnect error code: 12029 Message: " + message(inet::kCannotConnect));
}

TEST_F(CftpTest, SilentServerTimesOut) {
    InternetSettings quick = settings_;
    quick.connectTimeout = 700ms;
    makeClient(quick);
    server().setFaults(FtpFaults{.stallLogin = true});
    EXPECT_FALSE(connect());
    EXPECT_EQ(ftp_->GetLastErrorMessage(),
              "InternetConnect error code: 12002 Message: " + message(inet::kTimeout));
}

TEST_F(CftpTest, CloseWhileLoginWaitsCancelsIt) {
    // With the default 30 s limit, only the close can end this wait soon.
    makeClient(InternetSettings{});
    server().setFaults(FtpFaults{.stallLogin = true});
    std::weak_ptr<cFTP> weak = ftp_;
    bool closed = false;
    loop_.onYield = [&](int turn) {
        // Turns 1 and 2 are the client's own; from 3 on the login is waiting.
        if (turn >= 3 && !closed) {
            closed = true;
            weak.lock()->CloseConnection();
        }
    };
    EXPECT_FALSE(connect());
    EXPECT_EQ(ftp_->GetLastErrorMessage(),
              "InternetConnect error code: 12017 Message: " + message(inet::kOperationCancelled));
}

// --- Size -------------------------------------------------------------------------------

TEST_F(CftpTest, PresentEmptyAndMissingFiles) {
    server().putFile(kUser, "present.qk", std::string(1234, 'p'));
    server().putFile(kUser, "empty.qk", "");
    ASSERT_TRUE(connect());
    recordSomething();
    EXPECT_EQ(ftp_->GetFTPFileSize("present.qk"), 1234);
    EXPECT_EQ(ftp_->GetFTPFileSize("empty.qk"), 0);
    EXPECT_EQ(ftp_->GetFTPFileSize("missing.qk"), -1);
    EXPECT_EQ(ftp_->GetLastErrorMessage(), "550 Listing refused.\r\n");  // nothing recorded
}

TEST_F(CftpTest, NameWithBlanksIsFoundThroughWildcards) {
    server().putFile(kUser, "Cameras Schools.qk", std::string(77, 'c'));
    ASSERT_TRUE(connect());
    server().clearCommandLog();
    EXPECT_EQ(ftp_->GetFTPFileSize("Cameras Schools.qk"), 77);
    EXPECT_NE(server().commandLog().find("LIST"), std::string::npos);
    // The transfer itself asks for the name as it is.
    ASSERT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "Cameras Schools.qk"))
        << ftp_->GetLastErrorMessage();
    EXPECT_EQ(readBytes(local("temp.qk")), std::string(77, 'c'));
    EXPECT_NE(server().commandLog().find("RETR Cameras Schools.qk"), std::string::npos);
}

// --- Download ---------------------------------------------------------------------------

class CftpDownloadSizes : public CftpTest, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(CftpDownloadSizes, ArrivesByteForByteWithTheDesignedEvents) {
    const std::int32_t size = GetParam();
    const std::string bytes = testBytes(static_cast<std::size_t>(size), 7u + size);
    server().putFile(kUser, "data.qk", bytes);
    ASSERT_TRUE(connect());
    ASSERT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "data.qk")) << ftp_->GetLastErrorMessage();
    EXPECT_TRUE(readBytes(local("temp.qk")) == bytes);
    EXPECT_EQ(events_, downloadEvents(size));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CftpDownloadSizes,
                         ::testing::Values(1, 254, 255, 256, 255 * 4, 1024 * 1024 + 17));

// Empty, missing or blank: refused before anything is touched or recorded.
TEST_F(CftpTest, RefusedDownloadsTouchNothingAndBlanksAreTrimmed) {
    server().putFile(kUser, "empty.qk", "");
    server().putFile(kUser, "Cameras.qk", "12345");
    ASSERT_TRUE(connect());
    recordSomething();
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("a.qk"), "empty.qk"));
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("b.qk"), "missing.qk"));
    EXPECT_FALSE(ftp_->FTPDownloadFile("   ", "Cameras.qk"));
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("x.qk"), "  "));
    EXPECT_FALSE(std::filesystem::exists(local("a.qk")));
    EXPECT_FALSE(std::filesystem::exists(local("b.qk")));
    EXPECT_EQ(ftp_->GetLastErrorMessage(), "550 Listing refused.\r\n");
    EXPECT_TRUE(events_.empty());
    EXPECT_TRUE(ftp_->FTPDownloadFile("  " + local("x.qk") + " ", " Cameras.qk  "));
    EXPECT_EQ(readBytes(local("x.qk")), "12345");
}

TEST_F(CftpTest, ReplacesALongerLocalFile) {
    server().putFile(kUser, "short.qk", "new\r\n");
    writeBytes(local("temp.qk"), std::string(5000, 'o'));
    ASSERT_TRUE(connect());
    ASSERT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "short.qk"));
    EXPECT_EQ(readBytes(local("temp.qk")), "new\r\n");
}

TEST_F(CftpTest, ReadsEverythingTheServerSendsBeyondTheListedSize) {
    const std::string bytes = testBytes(1000, 3);
    server().putFile(kUser, "long.qk", bytes);
    server().setFaults(FtpFaults{.listSizeDelta = -300});  // listed as 700
    ASSERT_TRUE(connect());
    ASSERT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "long.qk"));
    EXPECT_TRUE(readBytes(local("temp.qk")) == bytes);
    ASSERT_FALSE(events_.empty());
    for (const Event& e : events_) {
        EXPECT_LE(std::get<0>(e), 700);
        EXPECT_EQ(std::get<1>(e), 700);
    }
    EXPECT_EQ(events_.back(), Event(700, 700, true));
}

TEST_F(CftpTest, LocalFileThatCannotBeCreatedRaisesARuntimeError) {
    server().putFile(kUser, "data.qk", "abc");
    ASSERT_TRUE(connect());
    EXPECT_EQ(test::errorNumberOf(
                  [&] { ftp_->FTPDownloadFile(local("no/such/folder/temp.qk"), "data.qk"); }),
              err::kFileNotFound);
    // The remote file was closed on the way out: the connection still serves.
    EXPECT_TRUE(ftp_->FTPDownloadFile(local("temp.qk"), "data.qk"));
}

// Each row: what the server does, and the text the failed download leaves.
struct Misbehaviour {
    const char* name;
    FtpFaults faults;
    std::string text;
};

void PrintTo(const Misbehaviour& row, std::ostream* out) {
    *out << row.name;
}

class CftpDownloadFaults : public CftpTest, public ::testing::WithParamInterface<Misbehaviour> {};

TEST_P(CftpDownloadFaults, FailsWithTheTextAndTheConnectionStillServes) {
    InternetSettings quick = settings_;
    quick.stallTimeout = 1500ms;
    makeClient(quick);
    const std::string bytes = testBytes(3000, 11);
    server().putFile(kUser, "data.qk", bytes);
    ASSERT_TRUE(connect());
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
        // Listed as 3010: the data ends where the short last chunk was due.
        Misbehaviour{
            "FewerBytesInLastChunk", FtpFaults{.listSizeDelta = 10},
            "InternetReadFile2 error code: 12030 Message: " + message(inet::kConnectionAborted)}),
    [](const ::testing::TestParamInfo<Misbehaviour>& info) { return info.param.name; });

// Slow to wake: the data and the reset are both in by the time the open looks. The file still
// opens, and the read that meets the reset reports it, as on a quicker turn.
TEST_F(CftpTest, AResetThatCameDuringTheOpenIsMetByTheRead) {
    server().putFile(kUser, "data.qk", testBytes(3000, 11));
    ASSERT_TRUE(connect());
    server().setFaults(FtpFaults{.resetData = true});
    loop_.onYield = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
    EXPECT_FALSE(ftp_->FTPDownloadFile(local("temp.qk"), "data.qk"));
    loop_.onYield = nullptr;
    EXPECT_EQ(ftp_->GetLastErrorMessage(),
              "InternetReadFile error code: 12031 Message: " + message(inet::kConnectionReset));
}

// --- Upload -----------------------------------------------------------------------------

class CftpUploadSizes : public CftpTest, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(CftpUploadSizes, ArrivesByteForByteWithTheDesignedEvents) {
    const std::int32_t size = GetParam();
    const std::string bytes = testBytes(static_cast<std::size_t>(size), 100u + size);
    writeBytes(local("K9-100234.txt"), bytes);
    ASSERT_TRUE(connect());
    ASSERT_TRUE(ftp_->FTPUploadFile(local("K9-100234.txt"), "K9-100234.txt"))
        << ftp_->GetLastErrorMessage();
    EXPECT_TRUE(server().readFile(kUser, "K9-100234.txt") == bytes);
    EXPECT_EQ(events_, uploadEvents(size));
}

INSTANTIATE_TEST_SUITE_P(Sizes, CftpUploadSizes, ::testing::Values(0, 90, 600, 1024 * 1024));

TEST_F(CftpTest, RejectedAtItsEndIsAFailureWithTheReply) {
    writeBytes(local("up.txt"), testBytes(600, 5));
    ASSERT_TRUE(connect());
    server().setFaults(FtpFaults{.rejectStore = true});
    EXPECT_FALSE(ftp_->FTPUploadFile(local("up.txt"), "up.txt"));
    EXPECT_EQ(ftp_->GetLastErrorMessage(),
              "552 Requested file action aborted. Exceeded storage allocation.\r\n");
    EXPECT_EQ(events_, uploadEvents(600));
}

TEST_F(CftpTest, LoopKeepsTurningWhileTheServerTakesItsTimeToAccept) {
    writeBytes(local("up.txt"), testBytes(600, 6));
    ASSERT_TRUE(connect());
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
}

TEST_F(CftpTest, HandlerErrorWhileWaitingForTheVerdictReachesTheCaller) {
    writeBytes(local("up.txt"), testBytes(600, 6));
    ASSERT_TRUE(connect());
    server().setFaults(FtpFaults{.slowFinalReply = 1.5});
    bool last = false;
    ftp_->setFileTransferProgress(
        [&](std::int32_t current, std::int32_t total, bool) { last = current == total; });
    loop_.onYield = [&](int) {
        if (last) {
            throw RuntimeError(err::kDeviceIo, "test", "raised by a handler");
        }
    };
    EXPECT_THROW(ftp_->FTPUploadFile(local("up.txt"), "up.txt"), RuntimeError);
    loop_.onYield = nullptr;
    server().clearFaults();
    // The failed transfer was closed; the client can go on.
    EXPECT_TRUE(ftp_->FTPUploadFile(local("up.txt"), "again.txt")) << ftp_->GetLastErrorMessage();
}

TEST_F(CftpTest, RefusedOpenLeavesTheReply) {
    writeBytes(local("up.txt"), "abc");
    ASSERT_TRUE(connect());
    EXPECT_FALSE(ftp_->FTPUploadFile(local("up.txt"), "no-such-folder/up.txt"));
    EXPECT_EQ(ftp_->GetLastErrorMessage().substr(0, 4), "550 ");
    EXPECT_TRUE(events_.empty());
}

TEST_F(CftpTest, MissingLocalFileRaisesARuntimeErrorToTheCaller) {
    ASSERT_TRUE(connect());
    EXPECT_EQ(test::errorNumberOf([&] { ftp_->FTPUploadFile(local("absent.txt"), "absent.txt"); }),
              err::kFileNotFound);
    writeBytes(local("present.txt"), "here");
    EXPECT_TRUE(ftp_->FTPUploadFile(local("present.txt"), "present.txt"))
        << ftp_->GetLastErrorMessage();
    EXPECT_EQ(server().readFile(kUser, "present.txt"), "here");
}

// A blank name is refused before anything is sent: never an upload reported that did not happen.
TEST_F(CftpTest, BlankNamesReturnFalseAtOnce) {
    ASSERT_TRUE(connect());
    EXPECT_FALSE(ftp_->FTPUploadFile(" ", "x.txt"));
    EXPECT_FALSE(ftp_->FTPUploadFile(local("x.txt"), ""));
    EXPECT_EQ(ftp_->GetLastErrorMessage(), "");
}

// --- Closed or released while a call yields ----------------------------------------------

TEST_F(CftpTest, CloseAndReleaseFromTheProgressEvent) {
    server().putFile(kUser, "data.qk", testBytes(100000, 1));
    ASSERT_TRUE(connect());
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
    server().putFile(kUser, "data.qk", testBytes(3000, 2));
    ASSERT_TRUE(connect());
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
    writeBytes(local("up.txt"), bytes);
    ASSERT_TRUE(connect());
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
