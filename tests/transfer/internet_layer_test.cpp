#include "internet/internet_layer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "ftp_test_support.h"

namespace k9 {
namespace {

using namespace ftptest;

// Those a server of the transfer tests brings about (refused, timed out, reset, a reply of 4xx or
// 5xx) are judged there, by the texts they leave.
TEST(InternetErrorsTest, LibcurlResultsMapToTheirCodes) {
    const std::tuple<CURLcode, long, int, std::uint32_t> rows[] = {
        {CURLE_OK, 0, 226, inet::kSuccess},
        {CURLE_COULDNT_RESOLVE_HOST, 0, 0, inet::kNameNotResolved},
        {CURLE_SEND_ERROR, EPIPE, 150, inet::kConnectionAborted},
        {CURLE_PARTIAL_FILE, 0, 150, inet::kConnectionAborted},
        {CURLE_GOT_NOTHING, 0, 0, inet::kConnectionAborted},
        {CURLE_URL_MALFORMAT, 0, 0, inet::kInvalidUrl},
        {CURLE_OUT_OF_MEMORY, 0, 0, inet::kInternalError},
    };
    for (const auto& [curl, osErrno, reply, expected] : rows) {
        EXPECT_EQ(internetCodeForCurl(curl, osErrno, reply), expected)
            << curl_easy_strerror(curl) << " after " << reply;
    }
}

class InternetLayerTest : public FtpServerTest {};

// A closed handle is gone: closing it again fails, and so does reading one whose session closed.
TEST_F(InternetLayerTest, ServerPortsBadAddressesAndClosedHandles) {
    HookLoop loop;
    InternetSettings settings;
    InternetLayer internet{loop, settings};
    const InternetHandle session = internet.open("Quillmark", inet::kOpenTypePreconfig, 0);
    ASSERT_NE(session, 0u);
    auto connect = [&](const std::string& host, std::uint16_t port) {
        return internet.connect(session, host, port, kUser, kPassword, inet::kServiceFtp,
                                inet::kFlagPassive);
    };
    server().putFile(kUser, "a.qk", "aaa");
    EXPECT_EQ(connect("127.0.0.1:99999", inet::kDefaultPort), 0u);
    EXPECT_EQ(internetLastError(), inet::kInvalidUrl);
    // An explicit port wins over none in the name.
    const InternetHandle connection = connect("127.0.0.1", server().port());
    ASSERT_NE(connection, 0u) << internetLastError();
    const InternetHandle first = internet.ftpOpenFile(connection, "a.qk", inet::kGenericRead, 1);
    ASSERT_NE(first, 0u);
    EXPECT_TRUE(internet.closeHandle(first));
    EXPECT_FALSE(internet.closeHandle(first));
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);
    const InternetHandle second = internet.ftpOpenFile(connection, "a.qk", inet::kGenericRead, 1);
    ASSERT_NE(second, 0u);
    EXPECT_TRUE(internet.closeHandle(session));
    std::uint32_t got = 0;
    char buffer[8];
    EXPECT_FALSE(internet.readFile(second, buffer, sizeof buffer, &got));
    EXPECT_EQ(internetLastError(), inet::kInvalidHandle);
}

}  // namespace
}  // namespace k9
