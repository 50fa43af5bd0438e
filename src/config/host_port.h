#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace k9 {

// A server as the settings name it.
struct HostPort {
    std::string host;  // a name or an address; an IPv6 address in brackets, "[::1]"
    int port = 0;      // 0 when none was given
};

// Reads "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address. A host is letters,
// digits, '.', '-', '_' (and the bytes of a non-ASCII name); a port 1 to 65535. Nothing, with
// the reason in a few words in `why`, when the text is not one.
std::optional<HostPort> parseHostPort(std::string_view text, std::string* why);

}  // namespace k9
