#include "config/settings_line.h"

#include "config/app_config.h"

#include <algorithm>

namespace k9 {
namespace {

constexpr std::string_view kStar = "*";

// 1-based position of the first star at or after `from`; 0 when there is none.
std::size_t starFrom(std::string_view text, std::size_t from) {
    const std::size_t at = text.find(kStar, from == 0 ? 0 : from - 1);
    return at == std::string_view::npos ? 0 : at + 1;
}

// The character at 1-based position `pos`, empty beyond the end.
std::string charAt(std::string_view text, std::size_t pos) {
    return pos >= 1 && pos <= text.size() ? std::string(1, text[pos - 1]) : std::string();
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

IniFields parseIniText(std::string_view text) {
    IniFields fields;
    const std::size_t p1 = starFrom(text, 1);
    const std::size_t p2 = starFrom(text, p1 + 1);
    fields.port = p2 > p1 + 1 ? std::string(text.substr(p1, p2 - p1 - 1)) : charAt(text, p1 + 1);
    if (p2 == p1 + 1) {
        // "**1*": an older reader took the second star as the port; the number is missing.
        fields.port.clear();
    }
    fields.filter = charAt(text, p2 + 1);
    const std::size_t p3 = starFrom(text, p2 + 1);
    fields.test = charAt(text, p3 + 1);
    return fields;
}

bool filterWanted(std::string_view flag) {
    if (flag.size() == 1 && isDigit(flag[0])) {
        return flag == "1";
    }
    return true;
}

bool isPortNumber(std::string_view port) {
    return !port.empty() && std::all_of(port.begin(), port.end(), isDigit);
}

std::string_view trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

namespace {

// The digits an entry begins with, after its blanks.
std::string_view leadingDigits(std::string_view entry) {
    const std::string_view trimmed = trimBlanks(entry);
    return trimmed.substr(
        0, static_cast<std::size_t>(std::find_if_not(trimmed.begin(), trimmed.end(), isDigit) -
                                    trimmed.begin()));
}

}  // namespace

int entryPortNumber(std::string_view entry) {
    const std::string_view digits = leadingDigits(entry);
    int number = 0;
    for (const char c : digits) {
        number = number * 10 + (c - '0');
        if (number > kLastComPort) {
            return 0;
        }
    }
    return number;
}

std::string savedPortValue(std::string_view entry) {
    const std::string_view digits = leadingDigits(entry);
    if (digits.empty()) {
        // Not a port entry we made; keep what older versions kept, the first character.
        return std::string(trimBlanks(entry).substr(0, 1));
    }
    return std::string(digits);
}

std::string iniLine(std::string_view port, bool filterOn, std::string_view test) {
    std::string line = "*" + std::string(port) + "*" + (filterOn ? "1" : "0") + "*";
    if (test == "t") {
        line += "t*";
    }
    return line + "\r\n";
}

}  // namespace k9
