#include "config/xdg_paths.h"

#include <cstdlib>

namespace k9 {
namespace {

constexpr const char* kProgramFolder = "k9updater";

std::string programFolderIn(const char* variable, const char* besideHome) {
    const char* value = std::getenv(variable);
    std::string base =
        value != nullptr && *value == '/' ? std::string(value) : homeFolder() + "/" + besideHome;
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return base + (base == "/" ? "" : "/") + kProgramFolder;
}

}  // namespace

std::string homeFolder() {
    const char* value = std::getenv("HOME");
    return value != nullptr && *value != '\0' ? value : ".";
}

std::string stateFolder() {
    return programFolderIn("XDG_STATE_HOME", ".local/state");
}

std::string configFolder() {
    return programFolderIn("XDG_CONFIG_HOME", ".config");
}

}  // namespace k9
