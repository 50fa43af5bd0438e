#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "local_ftp_server.h"

namespace k9 {

// vsftpd, the FTP server Debian ships, on a free loopback port: a Unix server whose ASCII
// transfers convert line ends, unlike our own test server. It runs as the calling user
// (run_as_launching_user), so only its anonymous login works: user "FTP", any password, files
// in one folder. With a certificate it offers TLS and insists, as it does by default, that the
// data connections resume the control connection's TLS session. The constructor returns once
// it answers, or throws std::runtime_error saying why it cannot run here; the destructor stops
// it and removes its folder.
class VsftpdServer final {
  public:
    explicit VsftpdServer(FtpServerTls tls = {});
    ~VsftpdServer();
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    // "127.0.0.1:NNNN", as the FTP client takes it.
    std::string hostPort() const;
    void putFile(const std::string& name, const std::string& bytes) const;
    // The file's bytes as stored; throws std::runtime_error when it is missing.
    std::string readFile(const std::string& name) const;

  private:
    void start();
    void stop();

    FtpServerTls tls_;
    std::string base_;
    std::string root_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace k9
