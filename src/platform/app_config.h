#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace k9 {

// Installation settings: where the servers are, where to work, which device is which COM port.
struct AppConfig {
    std::string ftpHost = "ftp.quillmark.com";  // host, or host:port
    std::string webHost = "www.quillmark.com";
    std::string workDir;  // empty: the default working folder
    std::map<int, std::string> ports = defaultPortMap();

    static std::map<int, std::string> defaultPortMap();
    // Device path for COM port n; empty when the map names none.
    std::string devicePath(int port) const;
};

inline constexpr std::string_view kConfigFileName = "k9updater.conf";
inline constexpr const char* kConfigEnvVar = "K9UPDATER_CONF";

// Reads the INI text; unknown keys and malformed lines are ignored, keeping defaults.
AppConfig parseAppConfig(std::string_view text);
// The file named by K9UPDATER_CONF, else k9updater.conf in exeDir; a missing file gives defaults.
AppConfig loadAppConfig(const std::string& exeDir);
std::string appConfigPath(const std::string& exeDir);

}  // namespace k9
