#pragma once

#include <string>

namespace k9 {

// A symbolic link that lives as long as this object, so a port map can name a fixed path for a
// device whose real name changes on every start. A stale link left by an earlier run is
// replaced; anything else at the path is left alone.
class SymlinkGuard final {
  public:
    // Throws std::system_error when the link cannot be made.
    SymlinkGuard(std::string linkPath, std::string target);
    ~SymlinkGuard();
    SymlinkGuard(const SymlinkGuard&) = delete;
    SymlinkGuard& operator=(const SymlinkGuard&) = delete;

  private:
    std::string linkPath_;
    std::string target_;
};

}  // namespace k9
