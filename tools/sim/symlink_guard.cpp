#include "symlink_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace k9 {
namespace {

std::string linkTarget(const std::string& path) {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    return n < 0 ? std::string() : std::string(buf.data(), static_cast<std::size_t>(n));
}

}  // namespace

SymlinkGuard::SymlinkGuard(std::string linkPath, std::string target)
    : linkPath_(std::move(linkPath)), target_(std::move(target)) {
    struct stat st {};
    if (::lstat(linkPath_.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            throw std::system_error(EEXIST, std::generic_category(),
                                    linkPath_ + " exists and is not a symbolic link");
        }
        ::unlink(linkPath_.c_str());
    }
    if (::symlink(target_.c_str(), linkPath_.c_str()) != 0) {
        throw std::system_error(errno, std::generic_category(), "symlink " + linkPath_);
    }
}

SymlinkGuard::~SymlinkGuard() {
    if (linkTarget(linkPath_) == target_) {
        ::unlink(linkPath_.c_str());
    }
}

}  // namespace k9
