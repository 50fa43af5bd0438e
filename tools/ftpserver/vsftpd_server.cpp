#include "vsftpd_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace k9 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kStartTimeout = 10s;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::uint16_t freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    const bool ok = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0;
    if (s >= 0) {
        ::close(s);
    }
    if (!ok) {
        throw std::runtime_error("no free loopback port");
    }
    return ntohs(a.sin_port);
}

// True once the server greets a new connection with its 220.
bool greets(std::uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        return false;
    }
    sockaddr_in a = loopback(port);
    bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (ok) {
        pollfd p{s, POLLIN, 0};
        char reply[4] = {};
        ok = ::poll(&p, 1, 2000) > 0 && ::read(s, reply, 3) == 3 && std::string(reply) == "220";
    }
    ::close(s);
    return ok;
}

}  // namespace

VsftpdServer::VsftpdServer(FtpServerTls tls) : tls_(std::move(tls)) {
    std::string pattern = (fs::temp_directory_path() / "k9vsftpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder for vsftpd");
    }
    base_ = pattern;
    root_ = base_ + "/root";
    fs::create_directories(root_);
    fs::create_directories(base_ + "/empty");
    try {
        start();
    } catch (...) {
        stop();
        throw;
    }
}

VsftpdServer::~VsftpdServer() {
    stop();
}

void VsftpdServer::start() {
    const char* own = std::getenv("K9_VSFTPD");
    std::string program = own != nullptr && *own != '\0' ? own : "/usr/sbin/vsftpd";
    if (::access(program.c_str(), X_OK) != 0) {
        throw std::runtime_error(program + " is missing (Debian package vsftpd)");
    }
    const passwd* user = ::getpwuid(::getuid());
    if (user == nullptr) {
        throw std::runtime_error("this user has no name for vsftpd's ftp_username");
    }
    port_ = freePort();
    const std::string conf = base_ + "/vsftpd.conf";
    {
        std::ofstream out(conf);
        // Without privileges: no chroot, no network namespace, no seccomp, our own user.
        out << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
            << "\nbackground=NO\nrun_as_launching_user=YES\nisolate=NO\nisolate_network=NO\n"
               "seccomp_sandbox=NO\nsecure_chroot_dir="
            << base_ << "/empty\nftp_username=" << user->pw_name
            << "\nanonymous_enable=YES\nlocal_enable=NO\nanon_root=" << root_
            << "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_other_write_enable=YES\n"
               "anon_world_readable_only=NO\n"
               "ascii_upload_enable=YES\nascii_download_enable=YES\n"
               "connect_from_port_20=NO\nxferlog_enable=NO\nvsftpd_log_file="
            << base_ << "/log\n";
        if (!tls_.certFile.empty()) {
            // vsftpd's own cipher list names one that OpenSSL 3 no longer offers.
            out << "ssl_enable=YES\nallow_anon_ssl=YES\nrequire_ssl_reuse=YES\nssl_ciphers=HIGH\n"
                   "rsa_cert_file="
                << tls_.certFile << "\nrsa_private_key_file=" << tls_.keyFile << "\n";
            if (tls_.required) {
                out << "force_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n";
            }
        }
        if (!out) {
            throw std::runtime_error("cannot write " + conf);
        }
    }
    const std::string output = base_ + "/output.txt";
    const int outFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Its own process group, so stopping it also ends the sessions it forked.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (outFd >= 0) {
            ::dup2(outFd, STDOUT_FILENO);
            ::dup2(outFd, STDERR_FILENO);
        }
        ::execl(program.c_str(), program.c_str(), conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (outFd >= 0) {
        ::close(outFd);
    }
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    ::setpgid(pid_, pid_);  // as the child does, whichever runs first
    const auto end = std::chrono::steady_clock::now() + kStartTimeout;
    while (!greets(port_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("vsftpd ended at start: " + slurp(output));
        }
        if (std::chrono::steady_clock::now() >= end) {
            throw std::runtime_error("vsftpd did not answer in time: " + slurp(output));
        }
        std::this_thread::sleep_for(20ms);
    }
}

void VsftpdServer::stop() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGTERM);
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    std::error_code ignored;
    fs::remove_all(base_, ignored);
}

std::string VsftpdServer::hostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

void VsftpdServer::putFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(root_ + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + name);
    }
}

std::string VsftpdServer::readFile(const std::string& name) const {
    if (!fs::exists(root_ + "/" + name)) {
        throw std::runtime_error(name + " is not on the server");
    }
    return slurp(root_ + "/" + name);
}

}  // namespace k9
