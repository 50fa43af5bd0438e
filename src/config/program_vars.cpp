#include "config/program_vars.h"

#include <sys/stat.h>

#include <filesystem>

#include "config/xdg_paths.h"

namespace k9 {
namespace {

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

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
        return stateFolder() + "/";
    }
#endif
    std::string folder = configuredDir;
    if (folder.back() != '/' && folder.back() != '\\') {
        folder += sep;
    }
    return folder;
}

std::string oldWorkingFolder() {
    return homeFolder() + "/Temp/";
}

std::string guideFolder(const std::string& exeFolder, const std::string& probeFile) {
    struct stat st {};
    if (::stat((exeFolder + "/" + probeFile).c_str(), &st) == 0) {
        return exeFolder;
    }
    const std::string installed =
        (std::filesystem::path(exeFolder) / ".." / "share" / "k9updater").lexically_normal();
    return isFolder(installed) ? installed : exeFolder;
}

}  // namespace k9
