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
// The working folder on this system: the configured one, else k9updater/ in the user's state
// folder ($XDG_STATE_HOME, by default ~/.local/state).
std::string workingFolder(const std::string& exeFolder, const std::string& configuredDir);
// Where versions before the state folder kept QK.ini: Temp/ in the home folder.
std::string oldWorkingFolder();
// The folder of the guides: beside the executable when `probeFile` lies there (the build
// tree), else share/k9updater/ of the installation the executable belongs to when it exists.
std::string guideFolder(const std::string& exeFolder, const std::string& probeFile);

}  // namespace k9
