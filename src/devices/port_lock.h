#pragma once

#include <string>

namespace k9 {

// Holds one COM port for this process: an flock on a file in the port's working subfolder,
// with our pid in it so a second process can say who has it. Released when destroyed.
class PortLock final {
  public:
    explicit PortLock(const std::string& path);
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    bool held() const { return held_; }
    // The holder's pid when another process has the lock, else 0.
    long holder() const { return holder_; }
    // Why the lock could not be taken, when it is not another holder.
    const std::string& error() const { return error_; }

  private:
    int fd_ = -1;
    bool held_ = false;
    long holder_ = 0;
    std::string error_;
};

}  // namespace k9
