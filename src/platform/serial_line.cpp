#include "platform/serial_line.h"

#include <charconv>
#include <vector>

#include "platform/runtime_error.h"

namespace k9 {
namespace {

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ',') {
            parts.emplace_back();
        } else if (c != ' ') {
            parts.back() += c;
        }
    }
    return parts;
}

bool toInt(const std::string& s, std::int32_t& out) {
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}

}  // namespace

bool portOpenChanges(bool wanted, bool isOpen, std::int16_t commPort) {
    if (wanted != isOpen) {
        return true;
    }
    if (wanted) {
        throw RuntimeError(err::kPortAlreadyOpen, "Serial port COM" + std::to_string(commPort),
                           "Port already open");
    }
    return false;
}

LineSettings parseLineSettings(const std::string& text) {
    const auto parts = splitCommas(text);
    LineSettings s;
    std::int32_t data = 0;
    std::int32_t stop = 0;
    const bool ok = parts.size() == 4 && toInt(parts[0], s.baud) && s.baud > 0 &&
                    parts[1].size() == 1 &&
                    std::string("NOEMS").find(parts[1][0] & ~0x20) != std::string::npos &&
                    toInt(parts[2], data) && data >= 5 && data <= 8 && toInt(parts[3], stop) &&
                    (stop == 1 || stop == 2);
    if (!ok) {
        throw RuntimeError(err::kPortSettings, "Serial port", "Invalid line settings: " + text);
    }
    s.parity = static_cast<char>(parts[1][0] & ~0x20);
    s.dataBits = data;
    s.stopBits = stop;
    return s;
}

}  // namespace k9
