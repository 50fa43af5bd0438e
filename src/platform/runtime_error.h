#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace k9 {

// The one exception type for run-time errors. It carries what the error reports of the
// update run show: a number, the source that raised it, a description and the OS error code.
class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(std::int32_t number, std::string source, std::string description, int osError = 0)
        : std::runtime_error(description),
          number_(number),
          source_(std::move(source)),
          description_(std::move(description)),
          osError_(osError) {}

    std::int32_t number() const { return number_; }
    const std::string& source() const { return source_; }
    const std::string& description() const { return description_; }
    int osError() const { return osError_; }

  private:
    std::int32_t number_;
    std::string source_;
    std::string description_;
    int osError_;
};

// Error numbers raised by our stand-ins, in the numbering the callers expect.
namespace err {
inline constexpr std::int32_t kOverflow = 6;       // a number out of its type's range
inline constexpr std::int32_t kTypeMismatch = 13;  // a text that is not a number
inline constexpr std::int32_t kInternalError = 51;
inline constexpr std::int32_t kBadFileNumber = 52;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kFileAlreadyOpen = 55;
inline constexpr std::int32_t kDeviceIo = 57;
inline constexpr std::int32_t kDiskFull = 61;
inline constexpr std::int32_t kInputPastEnd = 62;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kPathFileAccess = 75;
inline constexpr std::int32_t kPathNotFound = 76;
inline constexpr std::int32_t kInvalidPortNumber = 8002;
inline constexpr std::int32_t kPortAlreadyOpen = 8005;
inline constexpr std::int32_t kPortNotAvailable = 8010;
inline constexpr std::int32_t kPortSettings = 8015;
inline constexpr std::int32_t kPortNotOpen = 8018;
inline constexpr std::int32_t kPortIo = 8020;
}  // namespace err

}  // namespace k9
