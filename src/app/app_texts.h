#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace k9 {

// Title of message boxes that carry none of their own.
inline constexpr std::string_view kAppTitle = "Sentrel K9 Updater";

// The guides, in the guide folder (beside the executable in the build tree).
inline constexpr std::string_view kInstructionsFile = "K9DownloadInstructions.rtf";
inline constexpr std::string_view kUserGuideFile = "UserGuide.rtf";

// "Sentrel K9 Updater (v1.9.3)": the version's numbers without leading zeros.
std::string versionTitle(const std::string& deviceName, std::string_view version);

// What to do on the unit, shown in the status label once the window is up.
std::string instructionsText();

std::string startupFailureText(const std::string& webHost, std::int32_t number,
                               const std::string& description);
// Names the working folder that could not be created, without its final separator.
std::string folderFailureText(std::string folder);

std::string troubleshootingUrl(const std::string& webHost);
std::string downloadUrl(const std::string& webHost);

// Shown in a guide window in place of a guide that could not be loaded.
std::string missingGuideText(const std::string& path);

}  // namespace k9
