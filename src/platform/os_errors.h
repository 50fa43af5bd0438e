#pragma once

#include <cstdint>

namespace k9 {

// System error codes of the platform library the internet layer stands in for, for failures
// of local files.
namespace syserr {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kWriteFault = 29;
inline constexpr std::uint32_t kReadFault = 30;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kDiskFull = 112;
}  // namespace syserr

// What an errno of a file operation means, in both numberings the callers expect: the run
// time's error number with its text (RuntimeError), and the system error code.
struct OsErrorMeaning {
    std::int32_t number;
    const char* text;
    std::uint32_t systemCode;
};

// An errno that the table does not name is a path/file access error, and a read or write
// fault by the direction of the operation.
OsErrorMeaning osErrorMeaning(int osError, bool writing);

}  // namespace k9
