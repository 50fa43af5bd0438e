#include "app/app_texts.h"

#include "platform/texts.h"

namespace k9 {
namespace {

const std::string kEnDash = "\u2013";

// "09" -> "9", "000" -> "0".
std::string withoutLeadingZeros(std::string_view number) {
    const std::size_t first = number.find_first_not_of('0');
    if (first == std::string_view::npos) {
        return "0";
    }
    return std::string(number.substr(first));
}

}  // namespace

std::string versionTitle(const std::string& deviceName, std::string_view version) {
    std::string parts[3] = {"0", "0", "0"};
    for (std::string& part : parts) {
        const std::size_t dot = version.find('.');
        part = withoutLeadingZeros(version.substr(0, dot));
        if (dot == std::string_view::npos) {
            break;
        }
        version.remove_prefix(dot + 1);
    }
    return deviceName + " Updater (v" + parts[0] + "." + parts[1] + "." + parts[2] + ")";
}

std::string instructionsText() {
    return "1. Select the COM port that your K9 is connected to." + kCrLf +
           "2. Select the file you want to download." + kCrLf + "On the K9: " + kCrLf +
           "3. PRESS and hold down the MODE/MENU button until TONE is displayed. " + kCrLf +
           "4. Press MUTE/CANCEL button twice " + kEnDash + " DOWNLOAD should be displayed." +
           kCrLf + "5. Press SELECT twice " + kEnDash + " CONNECT should be displayed." + kCrLf +
           "6. Click on START UPDATE on the computer.";
}

std::string startupFailureText(const std::string& webHost, std::int32_t number,
                               const std::string& description) {
    return "An error has occurred whilst initialising. " + kCrLf + kCrLf +
           "Please check the Troubleshooting Guides at " + kCrLf + webHost +
           " for latest information. " + kCrLf + kCrLf +
           "Please check that the Critical Updates and Service " + "Packs for your " + kCrLf +
           "Operating System are up to date by visiting the Windows " + "Update Website. " + kCrLf +
           kCrLf + "Install all Updates " + "available and then uninstall and reinstall " + kCrLf +
           "the Sentrel software and try again. " + kCrLf + kCrLf + std::to_string(number) + " " +
           description;
}

std::string folderFailureText(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    return "Error, unable to create " + folder + " folder. You may need " +
           "extra security permissions to create files and folders. " +
           "This program needs to be able to create a " + folder + " folder and " +
           "to be able to create files in that folder in order to work. ";
}

std::string troubleshootingUrl(const std::string& webHost) {
    return "http://" + webHost + "?p=K9CheckListGuide";
}

std::string downloadUrl(const std::string& webHost) {
    return "http://" + webHost + "/index.cfm?p=Software&d=type=K9";
}

std::string missingGuideText(const std::string& path) {
    return "File in Use or Could Not Be Found (" + path + ")";
}

}  // namespace k9
