#include "internet/tls_session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string_view>

#include "internet/curl_check.h"

namespace k9::tls_session {
namespace {

using Transfer = InternetLayer::Transfer;

struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
using Store = std::unique_ptr<X509_STORE, StoreFree>;

// The system's CA certificates, where libcurl would take them from, and a CA file of the
// settings, in one store built once for each CA file and shared by every connection: reading
// the system's bundle costs as much as the rest of a handshake, and a session makes one for
// each transfer. Null when it cannot be built; kept until the program ends.
X509_STORE* trustStore(const std::string& caFile) {
    static std::map<std::string, Store> stores;
    if (const auto known = stores.find(caFile); known != stores.end()) {
        return known->second.get();
    }
    Store fresh(X509_STORE_new());
    CURL* easy = curl_easy_init();
    const char* bundle = nullptr;
    const char* folder = nullptr;
    if (!fresh || easy == nullptr ||
        curl_easy_getinfo(easy, CURLINFO_CAINFO, &bundle) != CURLE_OK ||
        curl_easy_getinfo(easy, CURLINFO_CAPATH, &folder) != CURLE_OK) {
        curl_easy_cleanup(easy);
        return nullptr;
    }
    // A system with only one of them is served by it.
    const bool fromBundle = bundle != nullptr && X509_STORE_load_file(fresh.get(), bundle) == 1;
    const bool fromFolder = folder != nullptr && X509_STORE_load_path(fresh.get(), folder) == 1;
    curl_easy_cleanup(easy);
    const bool extra = caFile.empty() || X509_STORE_load_file(fresh.get(), caFile.c_str()) == 1;
    ERR_clear_error();
    if (!(fromBundle || fromFolder) || !extra) {
        return nullptr;
    }
    return stores.emplace(caFile, std::move(fresh)).first->second.get();
}

// Verifies the server against the trust store rather than files libcurl would read again.
CURLcode useTrustStore(CURL*, void* context, void* user) {
    X509_STORE* store = trustStore(*static_cast<const std::string*>(user));
    if (store == nullptr) {
        return CURLE_SSL_CACERT_BADFILE;
    }
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), store);
    return CURLE_OK;
}

bool mentionsTls(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find("tls") != std::string::npos || text.find("ssl") != std::string::npos ||
           text.find("encrypt") != std::string::npos;
}

std::string certificateCause(const Transfer& t) {
    const std::string refused = ", so the connection was refused.";
    switch (const long result = verifyResult(t)) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return "The server's certificate has expired" + refused;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return "The server's certificate is not valid yet (is this computer's clock right?)" +
                   refused;
        case X509_V_OK:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "The server's certificate is made out to another name than " +
                   t.connection->host + refused;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return "The server's certificate is not signed by an authority this computer trusts "
                   "(ftp_ca_file can name one)" +
                   refused;
        default:
            return "The server's certificate could not be verified (" +
                   std::string(X509_verify_cert_error_string(result)) + ")" + refused;
    }
}

}  // namespace

void prepare(Transfer& t) {
    const InternetLayer::Connection& c = *t.connection;
    CURL* e = t.easy;
    setOption(e, CURLOPT_ERRORBUFFER, t.errorText);
    if (c.useSsl == CURLUSESSL_NONE) {
        return;
    }
    setOption(e, CURLOPT_USE_SSL, c.useSsl);
    setOption(e, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
    setOption(e, CURLOPT_FTP_SSL_CCC, static_cast<long>(CURLFTPSSL_CCC_NONE));
    setOption(e, CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(e, CURLOPT_SSL_VERIFYHOST, 2L);
    setOption(e, CURLOPT_SSL_SESSIONID_CACHE, 1L);
    setOption(e, CURLOPT_SHARE, c.share);
    // libcurl reads no CA file of its own; the callback hands each connection the trust store,
    // built here rather than inside libcurl.
    trustStore(t.settings.caFile);
    setOption(e, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    setOption(e, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    setOption(e, CURLOPT_SSL_CTX_FUNCTION, useTrustStore);
    setOption(e, CURLOPT_SSL_CTX_DATA, &t.settings.caFile);
}

void capture(Transfer& t) {
    curl_tlssessioninfo* info = nullptr;
    getInfo(t.easy, CURLINFO_TLS_SSL_PTR, &info);
    if (info == nullptr || info->internals == nullptr || info->backend != CURLSSLBACKEND_OPENSSL) {
        return;
    }
    const auto* ssl = static_cast<const SSL*>(info->internals);
    t.tls.encrypted = true;
    t.tls.tlsVersion = SSL_get_version(ssl);
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl);
    t.tls.cipher = cipher != nullptr ? SSL_CIPHER_get_name(cipher) : "";
}

long verifyResult(const Transfer& t) {
    long result = X509_V_OK;
    getInfo(t.easy, CURLINFO_SSL_VERIFYRESULT, &result);
    // libcurl checks the name itself once OpenSSL has passed the certificate, and tells of a
    // mismatch only in its text.
    if ((result == X509_V_OK || result == X509_V_ERR_UNSPECIFIED) &&
        std::string_view(t.errorText).find("subject name") != std::string_view::npos) {
        return X509_V_ERR_HOSTNAME_MISMATCH;
    }
    return result;
}

std::string failureCause(const Transfer& t) {
    const InternetLayer::Connection& c = *t.connection;
    const std::string server = c.host + ":" + std::to_string(c.port);
    switch (t.result) {
        case CURLE_USE_SSL_FAILED:
            if (c.spokeTls) {
                return "The server " + server +
                       " speaks TLS for the login but refuses it for the data connections, so "
                       "the connection was refused.";
            }
            if (c.remembered) {
                return "The server " + server +
                       " spoke TLS before but now offers only clear text; the connection was "
                       "refused so that the password does not cross in clear.";
            }
            return "The server " + server +
                   " does not offer TLS, which ftp_tls = require demands, so the connection was "
                   "refused.";
        case CURLE_PEER_FAILED_VERIFICATION:
            return certificateCause(t);
        case CURLE_SSL_CACERT_BADFILE:
            return t.settings.caFile.empty()
                       ? "This computer's store of CA certificates could not be read."
                       : "The CA file " + t.settings.caFile + " (ftp_ca_file) could not be used.";
        case CURLE_SSL_CONNECT_ERROR:
            return "The encrypted connection to " + server +
                   " could not be set up: " + t.errorText + ".";
        default:
            break;
    }
    if (c.useSsl == CURLUSESSL_NONE && t.lastReply.replyCode >= 500 &&
        mentionsTls(t.lastReply.text)) {
        return "The server " + server + " requires TLS, and ftp_tls = off.";
    }
    return {};
}

}  // namespace k9::tls_session
