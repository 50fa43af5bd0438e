// The modification time of a remote file, from the server's MDTM.
#include <curl/curl.h>

#include "internet/curl_driver.h"
#include "internet/internet_handles.h"

namespace k9 {
using namespace curl_driver;

bool InternetLayer::ftpGetFileTime(InternetHandle connectionHandle, const std::string& fileName,
                                   std::int64_t* secondsSinceEpoch) {
    CallScope scope(*this);
    auto connection = lookup<Connection>(connectionHandle);
    if (!connection) {
        return false;
    }
    if (secondsSinceEpoch == nullptr || fileName.empty()) {
        return fail(inet::kInvalidParameter);
    }
    if (auto busy = connection->busy.lock(); busy && !busy->closed) {
        return fail(inet::kFtpTransferInProgress);
    }
    auto t = newTransfer(connection, "/" + fileName, false);
    if (!t) {
        return false;
    }
    // Commands only, as the login: MDTM, then SIZE, which fails for a missing file.
    t->mode = Transfer::Mode::Login;
    curl_easy_setopt(t->easy, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(t->easy, CURLOPT_FILETIME, 1L);
    connection->busy = t;
    connection->children.push_back(t);
    const bool alive = drive(*t, Phase::Transfer, never);
    retire(t);
    if (!alive) {
        return fail(inet::kOperationCancelled);
    }
    if (failedOrStalled(*t)) {
        return finishFailure(*t);
    }
    // -1 when the server did not answer MDTM (or answered something else than a time).
    curl_off_t time = -1;
    if (curl_easy_getinfo(t->easy, CURLINFO_FILETIME_T, &time) != CURLE_OK || time < 0) {
        time = 0;
    }
    *secondsSinceEpoch = static_cast<std::int64_t>(time);
    setInternetLastError(inet::kSuccess);
    return true;
}

}  // namespace k9
