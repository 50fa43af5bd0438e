#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace k9::test {

// A file's bytes as they are; empty when it cannot be read.
inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The permission bits of a file or folder; 0 when it is not there.
inline unsigned modeOf(const std::string& path) {
    return static_cast<unsigned>(std::filesystem::status(path).permissions() &
                                 std::filesystem::perms::mask);
}

// Dates a file, as the server's MDTM then tells it.
inline void setModified(const std::string& path, std::time_t when) {
    std::filesystem::last_write_time(path,
                                     std::filesystem::file_time_type::clock::from_sys(
                                         std::chrono::sys_seconds{std::chrono::seconds{when}}));
}

}  // namespace k9::test
