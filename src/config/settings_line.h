#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace k9 {

// The one line of QK.ini: "*" port "*" filter "*", then "t*" when the test mark is set, e.g.
// "*3*1*" or "*12*0*t*".
struct IniFields {
    std::string port;    // port number, or empty / not a number when none was saved
    std::string filter;  // "1" on, "0" off; anything else counts as on
    std::string test;    // "t" adds the "Test Locations" entry
};

// Characters of QK.ini that are looked at. Older versions read seven; a two-digit port needs
// one more, and the rest leaves room.
inline constexpr std::size_t kIniReadLength = 16;

// Takes the fields out of the text by its stars. The port is everything between the first and
// the second star, so "*12*1*" gives "12" and the one-character ports of older files read as
// before; the filter and test fields are the characters after the second and third stars.
IniFields parseIniText(std::string_view text);

// The check mark that "Filter Com Ports" should end up with: on for "1" and for a flag that is
// not a digit (missing, a letter), off for any other digit.
bool filterWanted(std::string_view flag);

// True for a non-empty run of decimal digits.
bool isPortNumber(std::string_view port);

// The number a port entry stands for: its leading digits, blanks before them allowed
// (" 3" and "3 - In Use" both give 3); 0 when there are none or they name no port of the list.
int entryPortNumber(std::string_view entry);

// The port to save for the text of the selected port entry: its leading number, blanks
// trimmed (" 12" and "12 - In Use" give "12"); empty when nothing is selected.
std::string savedPortValue(std::string_view entry);

// The line written at close, CR LF included.
std::string iniLine(std::string_view port, bool filterOn, std::string_view test);

// Entry text with leading and trailing blanks removed.
std::string_view trimBlanks(std::string_view text);

}  // namespace k9
