#pragma once

#include <string>

#include "local_ftp_server.h"

namespace k9 {

// The certificates of the TLS tests, made with openssl (make_test_certificates.sh) in a
// temporary folder by the constructor, which throws std::runtime_error when it cannot, and
// removed with it: a test CA, and certificates of one server key for each way a server may
// present itself.
class TestCertificates final {
  public:
    enum class Kind {
        Good,       // for 127.0.0.1 and localhost, signed by the test CA
        Expired,    // the same, valid in January 2020 only
        OtherName,  // for other.example
        Untrusted,  // for 127.0.0.1, signed by a CA nobody trusts
    };

    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    const std::string& folder() const { return folder_; }
    // The test CA, for the client's CA file.
    std::string caFile() const { return folder_ + "/ca.pem"; }
    // A server's TLS with the certificate of this kind.
    FtpServerTls server(Kind kind = Kind::Good, bool required = false) const;

  private:
    std::string folder_;
};

}  // namespace k9
