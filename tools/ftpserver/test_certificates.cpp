#include "test_certificates.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#ifndef K9_TEST_CERTIFICATES_SCRIPT
#error "K9_TEST_CERTIFICATES_SCRIPT must name tools/ftpserver/make_test_certificates.sh"
#endif

namespace k9 {

TestCertificates::TestCertificates() {
    std::string pattern = (std::filesystem::temp_directory_path() / "k9certs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder for the test certificates");
    }
    folder_ = pattern;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", K9_TEST_CERTIFICATES_SCRIPT, folder_.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        throw std::runtime_error("openssl could not make the test certificates");
    }
}

TestCertificates::~TestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

FtpServerTls TestCertificates::server(Kind kind, bool required) const {
    const char* names[] = {"server.pem", "expired.pem", "other-name.pem", "untrusted.pem"};
    return FtpServerTls{folder_ + "/" + names[static_cast<int>(kind)], folder_ + "/server.key",
                        required};
}

}  // namespace k9
