#include "devices/lock_files.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace k9 {
namespace {

// A lock file is one short line; more than this is not one.
constexpr std::size_t kMaxLockBytes = 256;

std::string readSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        return {};
    }
    char buffer[kMaxLockBytes];
    ssize_t got = 0;
    do {
        got = ::read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

bool alive(long pid) {
    // EPERM: the process exists but belongs to somebody else.
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

}  // namespace

std::vector<std::string> defaultLockFolders() {
    return {"/var/lock", "/run/lock"};
}

long lockFilePid(std::string_view content) {
    std::size_t i = 0;
    while (i < content.size() && (content[i] == ' ' || content[i] == '\t')) {
        ++i;
    }
    long pid = 0;
    std::size_t digits = 0;
    for (; i < content.size() && std::isdigit(static_cast<unsigned char>(content[i])); ++i) {
        if (++digits > 9) {
            return 0;
        }
        pid = pid * 10 + (content[i] - '0');
    }
    const bool lineEnds =
        i == content.size() || std::isspace(static_cast<unsigned char>(content[i]));
    if (digits > 0 && lineEnds) {
        return pid;
    }
    if (content.size() == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, content.data(), sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

std::string lockFileName(const std::string& node) {
    const std::string_view dev = "/dev/";
    std::string name = node.compare(0, dev.size(), dev) == 0 ? node.substr(dev.size()) : node;
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return "LCK.." + name;
}

long lockHolder(const std::string& node, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        const long pid = lockFilePid(readSmallFile(folder + "/" + lockFileName(node)));
        if (alive(pid)) {
            return pid;
        }
    }
    return 0;
}

}  // namespace k9
