#pragma once

#include <string>

namespace k9 {

// A line break inside a message or on the line.
inline const std::string kCrLf = "\r\n";

}  // namespace k9
