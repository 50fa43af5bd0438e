#include "internet/curl_check.h"

#include <curl/options.h>

#include "internet/internet_errors.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

[[noreturn]] void raise(std::uint32_t number, std::string_view what, const char* text) {
    throw RuntimeError(static_cast<std::int32_t>(number), kInternetSource,
                       "libcurl " + std::string(what) + ": " + (text != nullptr ? text : "?"));
}

}  // namespace

void checkCurl(CURLcode code, std::string_view what) {
    if (code != CURLE_OK) {
        raise(inet::kInternalError, what, curl_easy_strerror(code));
    }
}

void checkCurl(CURLMcode code, std::string_view what) {
    if (code != CURLM_OK) {
        raise(inet::kInternalError, what, curl_multi_strerror(code));
    }
}

void checkCurl(CURLUcode code, std::string_view what) {
    if (code != CURLUE_OK) {
        raise(code == CURLUE_OUT_OF_MEMORY ? inet::kInternalError : inet::kInvalidUrl, what,
              curl_url_strerror(code));
    }
}

void checkCurl(CURLSHcode code, std::string_view what) {
    if (code != CURLSHE_OK) {
        raise(inet::kInternalError, what, curl_share_strerror(code));
    }
}

std::string curlOptionName(CURLoption option) {
    const curl_easyoption* known = curl_easy_option_by_id(option);
    return known != nullptr ? "CURLOPT_" + std::string(known->name)
                            : "option " + std::to_string(static_cast<int>(option));
}

}  // namespace k9
