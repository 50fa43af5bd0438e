// The one line of QK.ini as the start-up reads it (its first kIniReadLength bytes), the checks
// made on its fields, and the line written back at close.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings_line.h"
#include "fuzz_check.h"

namespace {

bool digitsOnly(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool isSubstring(std::string_view whole, std::string_view part) {
    return whole.find(part) != std::string_view::npos;
}

void checkFields(std::string_view text) {
    const k9::IniFields fields = k9::parseIniText(text);
    K9_FUZZ_CHECK(fields.filter.size() <= 1 && fields.test.size() <= 1, "one-character flags");
    K9_FUZZ_CHECK(fields.port.size() <= text.size() && isSubstring(text, fields.port),
                  "the port is text of the file");
    K9_FUZZ_CHECK(fields.port.find('*') == std::string::npos || fields.port.size() == 1,
                  "a port field spans no star");
    K9_FUZZ_CHECK(k9::isPortNumber(fields.port) == digitsOnly(fields.port), "port number check");
    const bool filter = k9::filterWanted(fields.filter);
    if (fields.filter.size() == 1 && fields.filter[0] >= '0' && fields.filter[0] <= '9') {
        K9_FUZZ_CHECK(filter == (fields.filter == "1"), "a digit sets the filter only when 1");
    } else {
        K9_FUZZ_CHECK(filter, "a missing or odd flag leaves the filter on");
    }
}

// What close writes must read back the same at the next start.
void checkRoundTrip(std::string_view entry, bool filterOn, bool test) {
    const std::string port = k9::savedPortValue(entry);
    const std::string_view trimmed = k9::trimBlanks(entry);
    K9_FUZZ_CHECK(port.size() <= trimmed.size() && trimmed.substr(0, port.size()) == port,
                  "the saved port is the start of the entry");
    K9_FUZZ_CHECK(trimmed.empty() || (trimmed.front() != ' ' && trimmed.back() != ' '),
                  "blanks trimmed");
    if (!k9::isPortNumber(port)) {
        return;  // entries the window makes always start with their number
    }
    const std::string line = k9::iniLine(port, filterOn, test ? "t" : "");
    K9_FUZZ_CHECK(line.size() >= 2 && line.substr(line.size() - 2) == "\r\n", "line end");
    std::string_view read = line;
    if (port.size() <= 3) {
        // COM ports go up to 255: such a line fits what the start-up reads.
        read = read.substr(0, k9::kIniReadLength);
    }
    const k9::IniFields back = k9::parseIniText(read);
    K9_FUZZ_CHECK(back.port == port, "the port reads back");
    K9_FUZZ_CHECK(k9::filterWanted(back.filter) == filterOn, "the filter reads back");
    K9_FUZZ_CHECK((back.test == "t") == test, "the test mark reads back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(bytes), size);
    checkFields(all.substr(0, k9::kIniReadLength));
    checkFields(all);
    if (size > 0) {
        const std::uint8_t flags = bytes[0];
        checkRoundTrip(all.substr(1), (flags & 1) != 0, (flags & 2) != 0);
    }
    return 0;
}
