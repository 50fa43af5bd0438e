#include "internet/internet_layer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <functional>
#include <string>
#include <tuple>

#include "ftp_test_support.h"
#include "internet/curl_check.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

using namespace ftptest;

// Those a server of the transfer tests brings about (refused, timed out, reset, a reply of 4xx or
// 5xx) are judged there, by the texts they leave.
TEST(InternetErrorsTest, LibcurlResultsMapToTheirCodes) {
    const std::tuple<CURLcode, long, int, long, std::uint32_t> rows[] = {
        {CURLE_OK, 0, 226, 0, inet::kSuccess},
        {CURLE_COULDNT_RESOLVE_HOST, 0, 0, 0, inet::kNameNotResolved},
        {CURLE_SEND_ERROR, EPIPE, 150, 0, inet::kConnectionAborted},
        {CURLE_PARTIAL_FILE, 0, 150, 0, inet::kConnectionAborted},
        {CURLE_GOT_NOTHING, 0, 0, 0, inet::kConnectionAborted},
        {CURLE_URL_MALFORMAT, 0, 0, 0, inet::kInvalidUrl},
        {CURLE_OUT_OF_MEMORY, 0, 0, 0, inet::kInternalError},
        // TLS refused after the server's "no" to AUTH is the channel, not the server's refusal.
        {CURLE_USE_SSL_FAILED, 0, 500, 0, inet::kSecureChannelError},
        {CURLE_PEER_FAILED_VERIFICATION, 0, 234, X509_V_ERR_CERT_NOT_YET_VALID,
         inet::kCertDateInvalid},
        {CURLE_PEER_FAILED_VERIFICATION, 0, 234, X509_V_ERR_IP_ADDRESS_MISMATCH,
         inet::kCertNameInvalid},
        {CURLE_PEER_FAILED_VERIFICATION, 0, 234, X509_V_ERR_CERT_REVOKED, inet::kInvalidCa},
    };
    for (const auto& [curl, osErrno, reply, verify, expected] : rows) {
        EXPECT_EQ(internetCodeForCurl(curl, osErrno, reply, verify), expected)
            << curl_easy_strerror(curl) << " after " << reply;
    }
}

// A libcurl call that fails is raised with its name and libcurl's own words.
TEST(InternetErrorsTest, FailedLibcurlCallsAreRaised) {
    CURL* easy = curl_easy_init();
    ASSERT_NE(easy, nullptr);
    const std::tuple<std::function<void()>, std::uint32_t, std::string, const char*> rows[] = {
        {[&] { setOption(easy, CURLOPT_USE_SSL, 99L); }, inet::kInternalError,
         "curl_easy_setopt CURLOPT_USE_SSL", curl_easy_strerror(CURLE_BAD_FUNCTION_ARGUMENT)},
        {[] { checkCurl(CURLM_BAD_EASY_HANDLE, "curl_multi_add_handle"); }, inet::kInternalError,
         "curl_multi_add_handle", curl_multi_strerror(CURLM_BAD_EASY_HANDLE)},
        {[] { checkCurl(CURLUE_BAD_HOSTNAME, "curl_url_set URL"); }, inet::kInvalidUrl,
         "curl_url_set URL", curl_url_strerror(CURLUE_BAD_HOSTNAME)},
    };
    for (const auto& [call, number, what, text] : rows) {
        try {
            call();
            ADD_FAILURE() << what << " was not raised";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), static_cast<std::int32_t>(number));
            EXPECT_EQ(e.source(), "Internet");
            EXPECT_EQ(e.description(), "libcurl " + what + ": " + text);
        }
    }
    curl_easy_cleanup(easy);
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
