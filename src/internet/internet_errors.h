#pragma once

#include <cstdint>
#include <string>

#include "platform/os_errors.h"

namespace k9 {

// Error codes of the internet layer, in the numbering of the platform library it stands in
// for, so that the FTP client's error texts read as its callers expect.
namespace inet {
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kFileNotFound = syserr::kFileNotFound;
inline constexpr std::uint32_t kPathNotFound = syserr::kPathNotFound;
inline constexpr std::uint32_t kAccessDenied = syserr::kAccessDenied;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNoMoreFiles = 18;
inline constexpr std::uint32_t kWriteFault = syserr::kWriteFault;
inline constexpr std::uint32_t kReadFault = syserr::kReadFault;
inline constexpr std::uint32_t kFileExists = syserr::kFileExists;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kDiskFull = syserr::kDiskFull;
inline constexpr std::uint32_t kTimeout = 12002;
inline constexpr std::uint32_t kExtendedError = 12003;  // see the server's last response
inline constexpr std::uint32_t kInternalError = 12004;
inline constexpr std::uint32_t kInvalidUrl = 12005;
inline constexpr std::uint32_t kNameNotResolved = 12007;
inline constexpr std::uint32_t kOperationCancelled = 12017;
inline constexpr std::uint32_t kIncorrectHandleType = 12018;
inline constexpr std::uint32_t kIncorrectHandleState = 12019;
inline constexpr std::uint32_t kCannotConnect = 12029;
inline constexpr std::uint32_t kConnectionAborted = 12030;
inline constexpr std::uint32_t kConnectionReset = 12031;
inline constexpr std::uint32_t kCertDateInvalid = 12037;
inline constexpr std::uint32_t kCertNameInvalid = 12038;
inline constexpr std::uint32_t kInvalidCa = 12045;
inline constexpr std::uint32_t kFtpTransferInProgress = 12110;
inline constexpr std::uint32_t kFtpDropped = 12111;
inline constexpr std::uint32_t kSecureChannelError = 12157;
}  // namespace inet

// The message text for a layer code, ending in CR LF; empty for codes that are not the
// layer's own (file-system codes, no-more-files), as the platform's table has none for them.
std::string internetErrorMessage(std::uint32_t code);

// The thread's last error code, as the layer's calls leave it.
std::uint32_t internetLastError();
void setInternetLastError(std::uint32_t code);

// The server's last response on this thread: its lines, each ending in CR LF, and its
// numeric reply code. Empty before the first reply.
struct InternetResponse {
    std::uint32_t replyCode = 0;
    std::string text;
};
InternetResponse internetLastResponse();
void setInternetLastResponse(InternetResponse response);

// Why the last login failed, in one line of plain words, where the layer knows more than its
// code tells (TLS refused or required, a certificate that does not verify); empty otherwise.
std::string internetLastCause();
void setInternetLastCause(std::string cause);

// Maps a libcurl result to a layer code. lastReplyCode is the server's last complete reply in
// that transfer (0 if none); a failure right after a negative reply is the server's refusal.
// verifyResult is OpenSSL's verdict on the server's certificate (0 when it passed).
std::uint32_t internetCodeForCurl(int curlCode, long osErrno, int lastReplyCode,
                                  long verifyResult = 0);

}  // namespace k9
