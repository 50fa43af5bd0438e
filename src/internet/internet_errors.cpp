#include "internet/internet_errors.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <utility>

namespace k9 {
namespace {

thread_local std::uint32_t tLastError = inet::kSuccess;
thread_local InternetResponse tLastResponse;
thread_local std::string tLastCause;

struct MessageEntry {
    std::uint32_t code;
    const char* text;
};

// Our own wording; the platform's texts end in a line break, and so do these.
constexpr MessageEntry kMessages[] = {
    {inet::kTimeout, "The server did not answer in time\r\n"},
    {inet::kExtendedError, "The server refused the request; its last response tells why\r\n"},
    {inet::kInternalError, "The internet layer failed internally\r\n"},
    {inet::kInvalidUrl, "The server address is not valid\r\n"},
    {inet::kNameNotResolved, "The server name could not be found\r\n"},
    {inet::kOperationCancelled, "The operation was cancelled because its handle was closed\r\n"},
    {inet::kIncorrectHandleType, "The handle is of the wrong kind for this operation\r\n"},
    {inet::kIncorrectHandleState, "The handle is not in a state that allows this operation\r\n"},
    {inet::kCannotConnect, "No connection to the server could be made\r\n"},
    {inet::kConnectionAborted, "The connection to the server was broken off\r\n"},
    {inet::kConnectionReset, "The server reset the connection\r\n"},
    {inet::kCertDateInvalid, "The server's certificate has expired or is not yet valid\r\n"},
    {inet::kCertNameInvalid, "The server's certificate is for another name\r\n"},
    {inet::kInvalidCa, "The server's certificate is not signed by a trusted authority\r\n"},
    {inet::kFtpTransferInProgress, "Another transfer is still open on this FTP connection\r\n"},
    {inet::kFtpDropped, "The FTP session was dropped\r\n"},
    {inet::kSecureChannelError, "An encrypted connection to the server could not be set up\r\n"},
};

// A certificate that passed OpenSSL's checks failed libcurl's own check of the name.
std::uint32_t certificateCode(long verifyResult) {
    switch (verifyResult) {
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return inet::kCertDateInvalid;
        case X509_V_OK:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return inet::kCertNameInvalid;
        default:
            return inet::kInvalidCa;
    }
}

}  // namespace

std::string internetErrorMessage(std::uint32_t code) {
    for (const MessageEntry& entry : kMessages) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return {};
}

std::uint32_t internetLastError() {
    return tLastError;
}

void setInternetLastError(std::uint32_t code) {
    tLastError = code;
}

InternetResponse internetLastResponse() {
    return tLastResponse;
}

void setInternetLastResponse(InternetResponse response) {
    tLastResponse = std::move(response);
}

std::string internetLastCause() {
    return tLastCause;
}

void setInternetLastCause(std::string cause) {
    tLastCause = std::move(cause);
}

std::uint32_t internetCodeForCurl(int curlCode, long osErrno, int lastReplyCode,
                                  long verifyResult) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_OK:
            return inet::kSuccess;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return inet::kNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return inet::kCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT:
            return inet::kTimeout;
        case CURLE_ABORTED_BY_CALLBACK:
            return inet::kOperationCancelled;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            return osErrno == ECONNRESET ? inet::kConnectionReset : inet::kConnectionAborted;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return inet::kInvalidUrl;
        case CURLE_PEER_FAILED_VERIFICATION:
            return certificateCode(verifyResult);
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_INITFAILED:
            return inet::kSecureChannelError;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_FAILED_INIT:
        case CURLE_BAD_FUNCTION_ARGUMENT:
        case CURLE_NOT_BUILT_IN:
            return inet::kInternalError;
        default:
            break;
    }
    // Anything else that ends on a negative reply is the server saying no.
    if (lastReplyCode >= 400) {
        return inet::kExtendedError;
    }
    return inet::kConnectionAborted;
}

}  // namespace k9
