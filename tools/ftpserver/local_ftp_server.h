#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace k9 {

// One login of the local server. home is relative to the server's root folder.
struct FtpAccount {
    std::string user;
    std::string password;
    std::string home;
};

// Ways the local server can misbehave; all off by default. They take effect at the next
// command the server reads, without a restart.
struct FtpFaults {
    bool refuseLogin = false;    // "530 Login refused." whatever the password
    bool refuseList = false;     // "550 Listing refused." to LIST, NLST and MLSD
    bool retr550 = false;        // "550 File unavailable." to RETR
    bool dropData = false;       // RETR: half the file, data connection closed, then a 426
    bool resetData = false;      // RETR: half the file, then the data connection is reset
    bool stallData = false;      // RETR: half the file, then silence
    bool stallLogin = false;     // a new connection gets no greeting
    int listSizeDelta = 0;       // listings report every size plus this
    bool rejectStore = false;    // a completed STOR is answered with a 552
    bool shortStore = false;     // a completed STOR is confirmed, but half the file is kept
    double slowFinalReply = 0;   // seconds between a transfer's data and its final reply
    bool failAfterData = false;  // RETR: the whole file, then "451 Transfer failed at ..."
    bool refuseMdtm = false;     // MDTM is answered "502 Command not implemented."
};

// Explicit TLS (AUTH TLS) for a test server: offered when a certificate and its key are given,
// and with `required` nobody is served in clear.
struct FtpServerTls {
    std::string certFile;
    std::string keyFile;
    bool required = false;
};

// The local FTP server (tools/ftpserver/k9_ftp_server.py) on a free loopback port, with a
// temporary root folder and the given accounts. Started by the constructor, which returns once
// the server listens (or throws std::runtime_error); stopped and its folder removed by the
// destructor. If this process dies first, the server notices and ends too.
class LocalFtpServer final {
  public:
    explicit LocalFtpServer(std::vector<FtpAccount> accounts, FtpServerTls tls = {});
    ~LocalFtpServer();
    LocalFtpServer(const LocalFtpServer&) = delete;
    LocalFtpServer& operator=(const LocalFtpServer&) = delete;

    // "127.0.0.1:NNNN", as the FTP client takes it.
    std::string hostPort() const;
    std::uint16_t port() const { return port_; }
    const std::string& rootDir() const { return root_; }
    std::string accountDir(const std::string& user) const;
    // Path of a file in an account's folder.
    std::string pathOf(const std::string& user, const std::string& name) const;

    void putFile(const std::string& user, const std::string& name, const std::string& bytes) const;
    // The file's bytes; throws std::runtime_error when it is missing.
    std::string readFile(const std::string& user, const std::string& name) const;
    bool hasFile(const std::string& user, const std::string& name) const;
    void removeFile(const std::string& user, const std::string& name) const;

    void setFaults(const FtpFaults& faults) const;
    void clearFaults() const { setFaults(FtpFaults{}); }

    // The commands the server received, one a line (passwords masked).
    std::string commandLog() const;
    void clearCommandLog() const;
    // pyftpdlib's own log, for diagnosing a failed test.
    std::string serverLog() const;

  private:
    void start();
    void stop();

    std::vector<FtpAccount> accounts_;
    FtpServerTls tls_;
    std::string base_;
    std::string root_;
    std::string state_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
    int stdinFd_ = -1;
};

}  // namespace k9
