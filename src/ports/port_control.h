#pragma once

#include <cstdint>
#include <string>

namespace k9 {

struct MainContext;

// Owns the serial port and the window's idle state: opening the chosen port, closing
// everything a run holds, and the two ways a run ends with a status line.
class PortControl final {
public:
    explicit PortControl(MainContext& context) : c_(context) {}

    // True when the selected port is open; on false the user has been told why.
    bool OpenComPort();
    // First step of a run: closes a port left open. False (after reporting) when that fails.
    bool closePortLeftOpen();
    void ClosePortAndReset();
    void ReportUpdateFailed();
    void cmdClose_Click();

private:
    MainContext& c_;
};

// Reads a port entry such as " 3" as a number, blanks allowed. Throws RuntimeError 13 when
// the text is not a number (an entry marked " - In Use"), 6 when it is out of range.
std::int16_t portNumberFromEntry(const std::string& entry);

}  // namespace k9
