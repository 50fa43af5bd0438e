#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace k9 {

class cFTP;

// The main window's variables shared by the run, its timers and the server operations.
struct UpdateState {
    std::string sRemoteFile;
    std::string sTempFile;
    std::string sSerialNumber;
    std::string sFtpPassword;
    std::string sNewLocations;
    std::string sLocationsFile;
    std::int16_t iLocationsFileNo = 0;
    std::int16_t iTempFileNo = 0;
    std::int16_t iStage = 0;
    std::string sRxBuffer;
    std::int16_t iRetryCount = 0;
    std::int16_t iUploadTicks = 0;
    bool blnStopped = false;
    // Held by shared_ptr so a frame using it keeps it alive when Close releases it.
    std::shared_ptr<cFTP> mFTP;
};

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
