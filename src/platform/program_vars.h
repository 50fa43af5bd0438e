#pragma once

#include <string>

namespace k9 {

// Program-wide values, set once at start-up.
struct ProgramVars {
    std::string vDeviceName = "Sentrel K9";
    std::string vDeviceModel = "K9";
    std::string sDeviceModel = "K9";
    // Working folder, ending in a path separator; paths are built by plain concatenation.
    std::string sTempFolder;
};

// The working folder for a program whose executable lies in exeFolder, Windows style:
// the first three characters of the path (the drive root) followed by "Temp\".
std::string windowsWorkingFolder(const std::string& exeFolder);
// The working folder on this system: the configured one, or Temp/ in the user's home.
std::string workingFolder(const std::string& exeFolder, const std::string& configuredDir);

}  // namespace k9
