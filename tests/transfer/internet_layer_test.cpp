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

// A closed handle is gone: closing it again fails, and so does reading one whose session closed.
TEST_F(InternetLayerTest, ClosedHandlesAreGone) {
    server().putFile(kUser, "a.qk", "aaa");
    const InternetHandle connection = connect();
    ASSERT_NE(connection, 0u);
    const InternetHandle first = internet_.ftpOpenFile(connection, "a.qk", inet::kGenericRead, 1);
    ASSERT_NE(first, 0u);
    EXPECT_TRUE(internet_.closeHandle(first));
    EXPECT_FALSE(internet_.closeHandle(first));
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);
    const InternetHandle second = internet_.ftpOpenFile(connection, "a.qk", inet::kGenericRead, 1);
    ASSERT_NE(second, 0u);
    EXPECT_TRUE(internet_.closeHandle(session_));
    std::uint32_t got = 0;
    char buffer[8];
    EXPECT_FALSE(internet_.readFile(second, buffer, sizeof buffer, &got));
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);
}

}  // namespace
}  // namespace k9
