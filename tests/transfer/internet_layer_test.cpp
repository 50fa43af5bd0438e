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
    InternetHandle connect() {
        return internet_.connect(session_, server().hostPort(), inet::kDefaultPort, kUser,
                                 kPassword, inet::kServiceFtp, inet::kFlagPassive);
    }

    HookLoop loop_;
    InternetSettings settings_;
    InternetLayer internet_{loop_, settings_};
    InternetHandle session_ = 0;
};

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

}  // namespace
}  // namespace k9
