#include "config/program_vars.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace k9 {
namespace {

std::string home() {
    const char* value = std::getenv("HOME");
    return value != nullptr && *value != '\0' ? value : ".";
}

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
        // A relative XDG_STATE_HOME is invalid and stands for nothing.
        const char* state = std::getenv("XDG_STATE_HOME");
        const std::string base =
            state != nullptr && *state == '/' ? std::string(state) : home() + "/.local/state";
        return base + (base.back() == '/' ? "" : "/") + "k9updater/";
    }
#endif
    std::string folder = configuredDir;
    if (folder.back() != '/' && folder.back() != '\\') {
        folder += sep;
    }
    return folder;
}

std::string oldWorkingFolder() {
    return home() + "/Temp/";
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
