#pragma once

#include <string>

namespace k9::test {

// What the updater writes to the unit.
inline const std::string kAck = "\r\n0\r\n";
inline const std::string kGet = "\r\n150\r\n";
inline const std::string kEnd = "\x03\r\n";
inline const std::string kDone = "\r\n368\r\n";
inline const std::string kHandshake = kAck + kAck + kAck + kGet;

// How a run ends in the status area.
inline const std::string kUpdated =
    "Sentrel K9 updated. \r\nClose this program and disconnect K9 from your PC.";
inline const std::string kFailed = "Sentrel K9 updating unsuccessful";
inline const std::string kStopped = "Sentrel K9 update stopped.";
inline const std::string kNoAnswer =
    "Unable to communicate with device. Please check connections and try again.";
inline const std::string kWrongPort = kNoAnswer + " You may have the wrong Com Port selected.";

// A location file of distinct lines, each ended by CR LF.
inline std::string locationLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "51." + std::to_string(10000 + i) + ",-0." + std::to_string(20000 + i * 7) +
                ",CAM,30,N" + std::to_string(i) + "\r\n";
    }
    return text;
}

}  // namespace k9::test
