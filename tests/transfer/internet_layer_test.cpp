#include "platform/internet_layer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ftp_test_support.h"

namespace k9 {
namespace {

using namespace ftptest;

// --- Codes and texts --------------------------------------------------------------------

TEST(InternetErrorsTest, EachLayerCodeHasItsOwnTextAndOthersNone) {
    const std::uint32_t layerCodes[] = {inet::kTimeout,
                                        inet::kExtendedError,
                                        inet::kInternalError,
                                        inet::kInvalidUrl,
                                        inet::kNameNotResolved,
                                        inet::kOperationCancelled,
                                        inet::kIncorrectHandleType,
                                        inet::kIncorrectHandleState,
                                        inet::kCannotConnect,
                                        inet::kConnectionAborted,
                                        inet::kConnectionReset,
                                        inet::kFtpTransferInProgress,
                                        inet::kFtpDropped};
    std::vector<std::string> seen;
    for (std::uint32_t code : layerCodes) {
        const std::string text = internetErrorMessage(code);
        ASSERT_GE(text.size(), 3u) << code;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << code;
        seen.push_back(text);
    }
    EXPECT_EQ(internetErrorMessage(inet::kNoMoreFiles), "");
    EXPECT_EQ(internetErrorMessage(inet::kFileNotFound), "");
    EXPECT_EQ(internetErrorMessage(0), "");
}

TEST(InternetErrorsTest, LibcurlResultsMapToTheirCodes) {
    struct Row {
        CURLcode curl;
        long osErrno;
        int reply;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {CURLE_OK, 0, 226, inet::kSuccess},
        {CURLE_COULDNT_RESOLVE_HOST, 0, 0, inet::kNameNotResolved},
        {CURLE_COULDNT_CONNECT, ECONNREFUSED, 0, inet::kCannotConnect},
        {CURLE_OPERATION_TIMEDOUT, 0, 150, inet::kTimeout},
        {CURLE_RECV_ERROR, ECONNRESET, 150, inet::kConnectionReset},
        {CURLE_SEND_ERROR, EPIPE, 150, inet::kConnectionAborted},
        {CURLE_LOGIN_DENIED, 0, 530, inet::kExtendedError},
        {CURLE_REMOTE_FILE_NOT_FOUND, 0, 550, inet::kExtendedError},
        {CURLE_PARTIAL_FILE, 0, 426, inet::kExtendedError},
        {CURLE_PARTIAL_FILE, 0, 150, inet::kConnectionAborted},
        {CURLE_GOT_NOTHING, 0, 0, inet::kConnectionAborted},
        {CURLE_URL_MALFORMAT, 0, 0, inet::kInvalidUrl},
        {CURLE_OUT_OF_MEMORY, 0, 0, inet::kInternalError},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(internetCodeForCurl(row.curl, row.osErrno, row.reply), row.expected)
            << curl_easy_strerror(row.curl) << " after " << row.reply;
    }
}

// --- Against the server -----------------------------------------------------------------

class InternetLayerTest : public FtpServerTest {
  protected:
    void SetUp() override {
        FtpServerTest::SetUp();
        session_ = internet_.open("Quillmark", inet::kOpenTypePreconfig, 0);
        ASSERT_NE(session_, 0u);
    }
    InternetHandle connect(std::uint32_t flags = inet::kFlagPassive) {
        return internet_.connect(session_, server().hostPort(), inet::kDefaultPort, kUser,
                                 kPassword, inet::kServiceFtp, flags);
    }
    std::string readAll(InternetHandle file, std::uint32_t piece) {
        std::string bytes;
        std::vector<char> buffer(piece);
        for (;;) {
            std::uint32_t got = 0;
            if (!internet_.readFile(file, buffer.data(), piece, &got)) {
                ADD_FAILURE() << "read failed: " << internetLastError();
                return bytes;
            }
            if (got == 0) {
                return bytes;
            }
            EXPECT_LE(got, piece);
            bytes.append(buffer.data(), got);
        }
    }

    HookLoop loop_;
    InternetSettings settings_;
    InternetLayer internet_{loop_, settings_};
    InternetHandle session_ = 0;
};

TEST_F(InternetLayerTest, ActiveModeMovesDataThroughPort) {
    const std::string bytes = testBytes(50000, 21);
    server().putFile(kUser, "active.qk", bytes);
    server().clearCommandLog();
    const InternetHandle connection = connect(0);
    ASSERT_NE(connection, 0u) << internetLastError();
    const InternetHandle file =
        internet_.ftpOpenFile(connection, "active.qk", inet::kGenericRead, 1);
    ASSERT_NE(file, 0u) << internetLastError();
    EXPECT_TRUE(readAll(file, 255) == bytes);
    EXPECT_TRUE(internet_.closeHandle(file));
    const std::string log = server().commandLog();
    EXPECT_TRUE(log.find("EPRT") != std::string::npos || log.find("PORT") != std::string::npos)
        << log;
    EXPECT_NE(log.find("TYPE A\nRETR active.qk"), std::string::npos) << log;
}

TEST_F(InternetLayerTest, ServerPortsAndBadAddresses) {
    EXPECT_EQ(internet_.connect(session_, "127.0.0.1:99999", 0, kUser, kPassword, inet::kServiceFtp,
                                inet::kFlagPassive),
              0u);
    EXPECT_EQ(internetLastError(), inet::kInvalidUrl);
    // An explicit port wins over none in the name.
    const InternetHandle connection =
        internet_.connect(session_, "127.0.0.1", server().port(), kUser, kPassword,
                          inet::kServiceFtp, inet::kFlagPassive);
    EXPECT_NE(connection, 0u) << internetLastError();
}

TEST_F(InternetLayerTest, SmallBuffersStillMoveEveryByte) {
    // Pausing and resuming at every few kilobytes in both directions.
    InternetSettings tight;
    tight.streamBufferBytes = 4096;
    InternetLayer internet(loop_, tight);
    const InternetHandle session = internet.open("Quillmark", 0, 0);
    const InternetHandle connection = internet.connect(
        session, server().hostPort(), 0, kUser, kPassword, inet::kServiceFtp, inet::kFlagPassive);
    ASSERT_NE(connection, 0u);

    const std::string up = testBytes(300000, 31);
    const InternetHandle writer =
        internet.ftpOpenFile(connection, "tight.bin", inet::kGenericWrite, 1);
    ASSERT_NE(writer, 0u);
    for (std::size_t at = 0; at < up.size(); at += 255) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(255, up.size() - at));
        std::uint32_t written = 0;
        ASSERT_TRUE(internet.writeFile(writer, up.data() + at, n, &written));
        EXPECT_EQ(written, n);
    }
    ASSERT_TRUE(internet.closeHandle(writer)) << internetLastError();
    EXPECT_TRUE(server().readFile(kUser, "tight.bin") == up);

    const InternetHandle reader =
        internet.ftpOpenFile(connection, "tight.bin", inet::kGenericRead, 1);
    ASSERT_NE(reader, 0u);
    std::string down;
    char buffer[1000];
    for (;;) {
        std::uint32_t got = 0;
        ASSERT_TRUE(internet.readFile(reader, buffer, sizeof buffer, &got));
        if (got == 0) {
            break;
        }
        down.append(buffer, got);
    }
    EXPECT_TRUE(down == up);
    EXPECT_TRUE(internet.closeHandle(reader));
}

TEST_F(InternetLayerTest, HandleRules) {
    server().putFile(kUser, "a.qk", "aaa");
    const InternetHandle connection = connect();
    ASSERT_NE(connection, 0u);

    std::uint32_t got = 0;
    char buffer[8];
    EXPECT_FALSE(internet_.readFile(12345, buffer, sizeof buffer, &got));
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);

    const InternetHandle writer = internet_.ftpOpenFile(connection, "w.qk", inet::kGenericWrite, 1);
    ASSERT_NE(writer, 0u);
    EXPECT_FALSE(internet_.readFile(writer, buffer, sizeof buffer, &got));
    EXPECT_EQ(internetLastError(), inet::kIncorrectHandleType);
    // One transfer at a time on a connection.
    EXPECT_EQ(internet_.ftpOpenFile(connection, "a.qk", inet::kGenericRead, 1), 0u);
    EXPECT_EQ(internetLastError(), inet::kFtpTransferInProgress);
    EXPECT_TRUE(internet_.closeHandle(writer));
    EXPECT_FALSE(internet_.closeHandle(writer));
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);

    const InternetHandle reader = internet_.ftpOpenFile(connection, "a.qk", inet::kGenericRead, 1);
    ASSERT_NE(reader, 0u);
    // Closing the session closes everything under it.
    EXPECT_TRUE(internet_.closeHandle(session_));
    EXPECT_FALSE(internet_.readFile(reader, buffer, sizeof buffer, &got));
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);
    EXPECT_EQ(internet_.ftpFindFirstFile(connection, "*", nullptr, 0), 0u);
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);
}

TEST_F(InternetLayerTest, FindFirstTakesWildcards) {
    server().putFile(kUser, "b one.txt", "12");
    server().putFile(kUser, "b two.txt", "12345");
    server().putFile(kUser, "c.txt", "1");
    const InternetHandle connection = connect();
    ASSERT_NE(connection, 0u);
    FtpFindData found;
    InternetHandle find = internet_.ftpFindFirstFile(connection, "b?two.txt", &found, 0);
    ASSERT_NE(find, 0u);
    EXPECT_EQ(found.fileName, "b two.txt");
    EXPECT_EQ(found.fileSizeLow, 5u);
    EXPECT_TRUE(internet_.closeHandle(find));

    find = internet_.ftpFindFirstFile(connection, "b*", &found, 0);
    ASSERT_NE(find, 0u);
    EXPECT_EQ(found.fileName, "b one.txt");
    internet_.closeHandle(find);

    EXPECT_EQ(internet_.ftpFindFirstFile(connection, "z?.txt", &found, 0), 0u);
    EXPECT_EQ(internetLastError(), inet::kNoMoreFiles);
}

TEST_F(InternetLayerTest, WaitingKeepsTheLoopTurning) {
    // A stalled transfer: the layer keeps yielding while it waits, until the limit.
    InternetSettings quick;
    quick.stallTimeout = std::chrono::milliseconds(1000);
    InternetLayer internet(loop_, quick);
    const InternetHandle session = internet.open("Quillmark", 0, 0);
    const InternetHandle connection = internet.connect(
        session, server().hostPort(), 0, kUser, kPassword, inet::kServiceFtp, inet::kFlagPassive);
    ASSERT_NE(connection, 0u);
    server().putFile(kUser, "slow.qk", testBytes(2000, 8));
    server().setFaults(FtpFaults{.stallData = true});
    const InternetHandle file = internet.ftpOpenFile(connection, "slow.qk", inet::kGenericRead, 1);
    ASSERT_NE(file, 0u);
    const int before = loop_.yields;
    std::string bytes;
    char buffer[255];
    std::uint32_t got = 0;
    while (internet.readFile(file, buffer, sizeof buffer, &got) && got != 0) {
        bytes.append(buffer, got);
    }
    EXPECT_EQ(internetLastError(), inet::kTimeout);
    EXPECT_EQ(bytes.size(), 1000u);
    EXPECT_GT(loop_.yields, before);
}

}  // namespace
}  // namespace k9
