#pragma once

// The one place where libcurl's result codes are checked: a call that does not succeed raises
// the layer's RuntimeError, with libcurl's own text and the call or option that failed.

#include <curl/curl.h>

#include <string>
#include <string_view>

namespace k9 {

// Source of the errors the internet layer raises.
inline constexpr const char* kInternetSource = "Internet";

// Raises RuntimeError(inet::kInternalError, or inet::kInvalidUrl for an address libcurl
// refused) unless the code is a success. `what` names the call, and the option where there is
// one.
void checkCurl(CURLcode code, std::string_view what);
void checkCurl(CURLMcode code, std::string_view what);
void checkCurl(CURLUcode code, std::string_view what);
void checkCurl(CURLSHcode code, std::string_view what);

// "CURLOPT_USE_SSL" for CURLOPT_USE_SSL.
std::string curlOptionName(CURLoption option);

template <typename T>
void setOption(CURL* easy, CURLoption option, T value) {
    if (const CURLcode code = curl_easy_setopt(easy, option, value); code != CURLE_OK) {
        checkCurl(code, "curl_easy_setopt " + curlOptionName(option));
    }
}

template <typename T>
void getInfo(CURL* easy, CURLINFO info, T* value) {
    checkCurl(curl_easy_getinfo(easy, info, value), "curl_easy_getinfo");
}

// For clean-up paths: a failure there is checked like any other and then dropped, since the
// resource goes anyway and nobody is left to tell.
template <typename Call>
void cleanUp(Call call) noexcept {
    try {
        call();
    } catch (const std::exception&) {
    }
}

}  // namespace k9
