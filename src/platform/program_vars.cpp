#include "platform/program_vars.h"

#include <cstdlib>

namespace k9 {

std::string windowsWorkingFolder(const std::string& exeFolder) {
    return exeFolder.substr(0, 3) + "Temp\\";
}

std::string workingFolder(const std::string& exeFolder, const std::string& configuredDir) {
#ifdef _WIN32
    if (configuredDir.empty()) {
        return windowsWorkingFolder(exeFolder);
    }
    const char sep = '\\';
#else
    (void)exeFolder;
    const char sep = '/';
    if (configuredDir.empty()) {
        const char* home = std::getenv("HOME");
        return std::string(home != nullptr && *home != '\0' ? home : ".") + "/Temp/";
    }
#endif
    std::string folder = configuredDir;
    if (folder.back() != '/' && folder.back() != '\\') {
        folder += sep;
    }
    return folder;
}

}  // namespace k9
