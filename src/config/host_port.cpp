#include "config/host_port.h"

#include <algorithm>
#include <cctype>

namespace k9 {
namespace {

bool hostChar(char c) {
    const auto b = static_cast<unsigned char>(c);
    return std::isalnum(b) || c == '.' || c == '-' || c == '_' || b >= 0x80;
}

bool v6Char(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

std::optional<HostPort> refuse(std::string* why, const char* reason) {
    *why = reason;
    return std::nullopt;
}

}  // namespace

std::optional<HostPort> parseHostPort(std::string_view text, std::string* why) {
    if (text.find("://") != std::string_view::npos) {
        return refuse(why, "starts with a scheme such as ftp://; give the host alone");
    }
    if (std::any_of(text.begin(), text.end(),
                    [](char c) { return std::isspace(static_cast<unsigned char>(c)); })) {
        return refuse(why, "has a blank in it");
    }
    HostPort result;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        const std::string_view inside = text.substr(1, close == text.npos ? 0 : close - 1);
        if (close == text.npos || inside.empty() ||
            !std::all_of(inside.begin(), inside.end(), v6Char)) {
            return refuse(why, "is not an IPv6 address in brackets");
        }
        result.host = std::string(text.substr(0, close + 1));
        port = text.substr(close + 1);
        if (!port.empty() && port.front() != ':') {
            return refuse(why, "has more after the IPv6 address than :port");
        }
    } else if (std::count(text.begin(), text.end(), ':') > 1) {
        if (!std::all_of(text.begin(), text.end(), v6Char)) {
            return refuse(why, "is not a host name or address");
        }
        result.host = "[" + std::string(text) + "]";
    } else {
        const auto colon = text.find(':');
        result.host = std::string(text.substr(0, colon));
        port = colon == text.npos ? std::string_view() : text.substr(colon);
        if (result.host.empty()) {
            return refuse(why, "names no host");
        }
        if (!std::all_of(result.host.begin(), result.host.end(), hostChar)) {
            return refuse(why, "is not a host name or address");
        }
    }
    if (!port.empty()) {
        port.remove_prefix(1);
        int value = 0;
        for (char c : port) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || value > 65535) {
                value = -1;
                break;
            }
            value = value * 10 + (c - '0');
        }
        if (port.empty() || value < 1 || value > 65535) {
            return refuse(why, "has no port from 1 to 65535 after the colon");
        }
        result.port = value;
    }
    return result;
}

}  // namespace k9
