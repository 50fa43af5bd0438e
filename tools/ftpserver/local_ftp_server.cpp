#include "local_ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#ifndef K9_FTP_SERVER_SCRIPT
#error "K9_FTP_SERVER_SCRIPT must name tools/ftpserver/k9_ftp_server.py"
#endif

namespace k9 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kStartTimeout = 30s;
constexpr auto kStopTimeout = 3s;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string envOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

bool reaped(pid_t pid, std::chrono::steady_clock::duration within) {
    const auto end = std::chrono::steady_clock::now() + within;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
}

}  // namespace

LocalFtpServer::LocalFtpServer(std::vector<FtpAccount> accounts, FtpServerTls tls)
    : accounts_(std::move(accounts)), tls_(std::move(tls)) {
    std::string pattern = (fs::temp_directory_path() / "k9ftp-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder for the FTP server");
    }
    base_ = pattern;
    root_ = base_ + "/root";
    state_ = base_ + "/state";
    fs::create_directories(root_);
    fs::create_directories(state_);
    for (const FtpAccount& account : accounts_) {
        fs::create_directories(accountDir(account.user));
    }
    try {
        start();
    } catch (...) {
        stop();
        std::error_code ignored;
        fs::remove_all(base_, ignored);
        throw;
    }
}

LocalFtpServer::~LocalFtpServer() {
    stop();
    std::error_code ignored;
    fs::remove_all(base_, ignored);
}

void LocalFtpServer::start() {
    const std::string python = envOr("K9_PYTHON", "/usr/bin/python3");
    const std::string script = envOr("K9_FTP_SERVER_SCRIPT", K9_FTP_SERVER_SCRIPT);
    // With its stdin watched the server also ends, and clears our folder, if we die first.
    std::vector<std::string> args = {python,    script, "--root",        root_,       "--port", "0",
                                     "--state", state_, "--watch-stdin", "--cleanup", base_};
    for (const FtpAccount& account : accounts_) {
        args.push_back("--account");
        args.push_back(account.user + ":" + account.password + ":" + account.home);
    }
    if (!tls_.certFile.empty()) {
        args.insert(args.end(), {"--tls-cert", tls_.certFile, "--tls-key", tls_.keyFile});
        if (tls_.required) {
            args.push_back("--tls-required");
        }
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string errPath = state_ + "/stderr.txt";

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error("pipe failed");
    }
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Child: only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        if (errFd >= 0) {
            ::dup2(errFd, STDERR_FILENO);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (errFd >= 0) {
        ::close(errFd);
    }
    if (pid_ < 0) {
        ::close(in[1]);
        ::close(out[0]);
        throw std::runtime_error("fork failed");
    }
    stdinFd_ = in[1];

    // Wait for "K9FTP READY port=N".
    std::string text;
    const auto end = std::chrono::steady_clock::now() + kStartTimeout;
    for (;;) {
        const auto newline = text.find('\n');
        if (newline != std::string::npos) {
            const std::string line = text.substr(0, newline);
            const auto at = line.find("K9FTP READY port=");
            if (at != std::string::npos) {
                port_ = static_cast<std::uint16_t>(std::stoi(line.substr(at + 17)));
                break;
            }
            text.erase(0, newline + 1);
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            ::close(out[0]);
            throw std::runtime_error("FTP server did not start in time: " + slurp(errPath));
        }
        char chunk[256];
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0) {
            ::close(out[0]);
            throw std::runtime_error("FTP server ended at start: " + slurp(errPath));
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
}

void LocalFtpServer::stop() {
    if (stdinFd_ >= 0) {
        ::close(stdinFd_);  // the server ends when its stdin closes
        stdinFd_ = -1;
    }
    if (pid_ > 0) {
        if (!reaped(pid_, kStopTimeout)) {
            ::kill(pid_, SIGKILL);
            reaped(pid_, kStopTimeout);
        }
        pid_ = -1;
    }
}

std::string LocalFtpServer::hostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string LocalFtpServer::accountDir(const std::string& user) const {
    for (const FtpAccount& account : accounts_) {
        if (account.user == user) {
            return fs::path(account.home).is_absolute() ? account.home : root_ + "/" + account.home;
        }
    }
    throw std::runtime_error("no FTP account " + user);
}

std::string LocalFtpServer::pathOf(const std::string& user, const std::string& name) const {
    return accountDir(user) + "/" + name;
}

void LocalFtpServer::putFile(const std::string& user, const std::string& name,
                             const std::string& bytes) const {
    writeFile(pathOf(user, name), bytes);
}

std::string LocalFtpServer::readFile(const std::string& user, const std::string& name) const {
    const std::string path = pathOf(user, name);
    if (!fs::is_regular_file(path)) {
        throw std::runtime_error("no file " + path + " on the FTP server");
    }
    return slurp(path);
}

bool LocalFtpServer::hasFile(const std::string& user, const std::string& name) const {
    return fs::is_regular_file(pathOf(user, name));
}

void LocalFtpServer::removeFile(const std::string& user, const std::string& name) const {
    std::error_code ignored;
    fs::remove(pathOf(user, name), ignored);
}

void LocalFtpServer::setFaults(const FtpFaults& f) const {
    auto flag = [](bool on) { return on ? "true" : "false"; };
    std::ostringstream json;
    json << "{\"refuse_login\": " << flag(f.refuseLogin)
         << ", \"refuse_list\": " << flag(f.refuseList) << ", \"retr_550\": " << flag(f.retr550)
         << ", \"drop_data\": " << flag(f.dropData) << ", \"reset_data\": " << flag(f.resetData)
         << ", \"stall_data\": " << flag(f.stallData) << ", \"stall_login\": " << flag(f.stallLogin)
         << ", \"list_size_delta\": " << f.listSizeDelta
         << ", \"reject_store\": " << flag(f.rejectStore)
         << ", \"short_store\": " << flag(f.shortStore)
         << ", \"slow_final_reply\": " << f.slowFinalReply
         << ", \"refuse_mdtm\": " << flag(f.refuseMdtm)
         << ", \"fail_after_data\": " << flag(f.failAfterData) << "}\n";
    // Renamed into place, so the server never reads half a file.
    const std::string path = state_ + "/faults.json";
    writeFile(path + ".tmp", json.str());
    fs::rename(path + ".tmp", path);
}

std::string LocalFtpServer::commandLog() const {
    return slurp(state_ + "/commands.log");
}

void LocalFtpServer::clearCommandLog() const {
    writeFile(state_ + "/commands.log", "");
}

std::string LocalFtpServer::serverLog() const {
    return slurp(state_ + "/server.log");
}

}  // namespace k9
