#include "devices/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace k9 {

PortLock::PortLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = path + ": " + std::strerror(errno);
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        char text[32] = "";
        const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
        text[n > 0 ? n : 0] = '\0';
        holder_ = std::strtol(text, nullptr, 10);
        if (holder_ <= 0) {
            holder_ = -1;  // held, by a process that has not written its pid yet
        }
        return;
    }
    held_ = true;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
        // The lock holds without the pid; a second process just cannot name us.
    }
}

PortLock::~PortLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace k9
