#include "platform/app_config.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace k9 {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// "COM12" -> 12; 0 when it is not a COM name in 1..255.
int comNumber(std::string_view key) {
    const std::string k = lower(key);
    if (k.size() < 4 || k.compare(0, 3, "com") != 0) {
        return 0;
    }
    int n = 0;
    auto [ptr, ec] = std::from_chars(k.data() + 3, k.data() + k.size(), n);
    if (ec != std::errc() || ptr != k.data() + k.size() || n < 1 || n > 255) {
        return 0;
    }
    return n;
}

}  // namespace

std::map<int, std::string> AppConfig::defaultPortMap() {
    std::map<int, std::string> map;
#ifdef _WIN32
    for (int n = 1; n <= 12; ++n) {
        map[n] = "COM" + std::to_string(n);
    }
#else
    for (int i = 0; i < 4; ++i) {
        map[1 + i] = "/dev/ttyS" + std::to_string(i);
        map[5 + i] = "/dev/ttyUSB" + std::to_string(i);
        map[9 + i] = "/dev/ttyACM" + std::to_string(i);
    }
#endif
    return map;
}

std::string AppConfig::devicePath(int port) const {
    auto it = ports.find(port);
    return it == ports.end() ? std::string() : it->second;
}

AppConfig parseAppConfig(std::string_view text) {
    AppConfig config;
    std::string section;
    std::istringstream in{std::string(text)};
    std::string raw;
    while (std::getline(in, raw)) {
        std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            section = line.back() == ']' ? lower(trim(line.substr(1, line.size() - 2))) : "?";
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        const std::string key = lower(trim(line.substr(0, eq)));
        const std::string value(trim(line.substr(eq + 1)));
        if (section.empty()) {
            if (key == "ftp_host" && !value.empty()) {
                config.ftpHost = value;
            } else if (key == "web_host" && !value.empty()) {
                config.webHost = value;
            } else if (key == "work_dir") {
                config.workDir = value;
            }
        } else if (section == "ports") {
            if (const int n = comNumber(key); n != 0 && !value.empty()) {
                config.ports[n] = value;
            }
        }
    }
    return config;
}

std::string appConfigPath(const std::string& exeDir) {
    if (const char* env = std::getenv(kConfigEnvVar); env != nullptr && *env != '\0') {
        return env;
    }
    return exeDir + "/" + std::string(kConfigFileName);
}

AppConfig loadAppConfig(const std::string& exeDir) {
    std::ifstream in(appConfigPath(exeDir), std::ios::binary);
    if (!in) {
        return AppConfig{};
    }
    // A config file is a few lines; anything past 1 MiB is not one.
    std::string text(1 << 20, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return parseAppConfig(text);
}

}  // namespace k9
