#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/ftp_tls.h"

namespace k9 {

// Installation settings: where the servers are, where to work, which device is which COM port.
struct AppConfig {
    std::string ftpHost = "ftp.quillmark.com";  // host, or host:port
    std::string webHost = "www.quillmark.com";
    std::string workDir;  // empty: the default working folder
    bool trace = false;   // keep a support trace of each run
    FtpTls ftpTls = FtpTls::Auto;
    std::string ftpCaFile;  // CA certificates trusted beside the system's, for a private server
    // The window asks the server at start-up whether a newer file waits for a unit it knows.
    bool checkAtStart = true;
    std::map<int, std::string> ports = defaultPortMap();
    // The files read, in the order they were applied.
    std::vector<std::string> files;
    // One line for each thing that could not be read, naming the file and line.
    std::vector<std::string> problems;

    static std::map<int, std::string> defaultPortMap();
    // Device path for COM port n; empty when the map names none.
    std::string devicePath(int port) const;
    // Every device path the map names, in port order.
    std::vector<std::string> devicePaths() const;
};

inline constexpr std::string_view kConfigFileName = "k9updater.conf";
inline constexpr const char* kConfigEnvVar = "K9UPDATER_CONF";
// The port list: COM1 to COM12.
inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 12;
inline constexpr int kComPortCount = kLastComPort - kFirstComPort + 1;

// Reads INI text over `base`, key by key: what the text sets replaces what base had.
// Malformed lines, unknown keys and sections, and values that cannot be used are reported in
// `problems` under `source` with their line, and ignored: what base had stands.
AppConfig parseAppConfig(std::string_view text, AppConfig base = {},
                         std::string_view source = kConfigFileName);

// Where the configuration may come from.
struct ConfigLocations {
    std::string named;   // K9UPDATER_CONF: when set, the only file read
    std::string user;    // $XDG_CONFIG_HOME/k9updater/k9updater.conf
    std::string system;  // /etc/k9updater.conf
    std::string beside;  // beside the executable (the build tree, the demo)

    static ConfigLocations fromEnvironment(const std::string& exeDir);
};

// The named file; else the system file then the user file over it, whichever exist; else the
// file beside the executable; else nothing (built-in defaults).
std::vector<std::string> configFilesToRead(const ConfigLocations& where);
AppConfig loadAppConfig(const ConfigLocations& where);
AppConfig loadAppConfig(const std::string& exeDir);

}  // namespace k9
