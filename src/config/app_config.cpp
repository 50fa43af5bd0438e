#include "config/app_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "config/host_port.h"
#include "config/xdg_paths.h"

namespace k9 {
namespace {

// A config file is a few lines; anything past 1 MiB is not one.
constexpr std::size_t kMaxConfigBytes = 1 << 20;

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

// "COM12" -> 12; 0 when it is not COM followed by a decimal number, -1 when the number is
// outside the port list.
int comNumber(std::string_view key) {
    const std::string k = lower(key);
    if (k.size() < 4 || k.size() > 8 || k.compare(0, 3, "com") != 0) {
        return 0;
    }
    int n = 0;
    auto [ptr, ec] = std::from_chars(k.data() + 3, k.data() + k.size(), n);
    if (ec != std::errc() || ptr != k.data() + k.size()) {
        return 0;
    }
    return n >= kFirstComPort && n <= kLastComPort ? n : -1;
}

// on/off, yes/no, true/false, 1/0; -1 for anything else.
int switchValue(const std::string& value) {
    const std::string v = lower(value);
    if (v == "on" || v == "yes" || v == "true" || v == "1") {
        return 1;
    }
    if (v == "off" || v == "no" || v == "false" || v == "0") {
        return 0;
    }
    return -1;
}

// Shown text of a line: printable ASCII only, and not too long to read.
std::string shown(std::string_view line) {
    std::string out;
    for (char c : line.substr(0, 60)) {
        out += (c >= 32 && c < 127) ? c : '?';
    }
    return line.size() > 60 ? out + "..." : out;
}

// The file's text, or false with the reason it cannot be read.
bool readConfigFile(const std::string& path, std::string& text, std::string& why);

// Why a CA file cannot be used; empty when it can.
std::string caFileProblem(const std::string& path) {
    if (path.front() != '/') {
        return "is not a full path";
    }
    std::string text;
    std::string why;
    if (!readConfigFile(path, text, why)) {
        return "cannot be read (" + why + ")";
    }
    if (text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
        return "holds no certificate (PEM)";
    }
    return {};
}

class ConfigReader {
  public:
    ConfigReader(AppConfig& config, std::string_view source) : c_(config), source_(source) {}

    void line(std::string_view raw, int number) {
        number_ = number;
        const std::string_view text = trim(raw);
        if (text.empty() || text.front() == '#' || text.front() == ';') {
            return;
        }
        if (text.front() == '[') {
            section(text);
            return;
        }
        const auto eq = text.find('=');
        if (eq == std::string_view::npos) {
            problem("\"" + shown(text) + "\" is not a setting (name = value)");
            return;
        }
        const std::string key = lower(trim(text.substr(0, eq)));
        const std::string value(trim(text.substr(eq + 1)));
        if (section_.empty()) {
            setting(key, value);
        } else if (section_ == "ports") {
            port(key, value);
        } else {
            problem("\"" + shown(key) + "\" is under " + sectionShown_ + ", which is not read");
        }
    }

  private:
    void section(std::string_view text) {
        if (text.back() != ']') {
            problem("\"" + shown(text) + "\" is not a section name ([name])");
            section_ = "?";
            sectionShown_ = "a section name that cannot be read";
            return;
        }
        section_ = lower(trim(text.substr(1, text.size() - 2)));
        section_ = section_.empty() ? "?" : section_;
        sectionShown_ = "[" + shown(trim(text.substr(1, text.size() - 2))) + "]";
        if (section_ != "ports") {
            problem("section " + sectionShown_ +
                    " is not one of this program's (its one section is [ports])");
        }
    }

    void setting(const std::string& key, const std::string& value) {
        if (key == "ftp_host" || key == "web_host") {
            host(key, value, key == "ftp_host" ? c_.ftpHost : c_.webHost);
        } else if (key == "work_dir") {
            struct stat st {};
            if (!value.empty() && value.front() != '/') {
                problem("work_dir \"" + shown(value) + "\" is not a full path (from /)");
            } else if (!value.empty() && ::stat(value.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
                problem("work_dir \"" + shown(value) + "\" is a file, not a folder");
            } else {
                c_.workDir = value;
            }
        } else if (key == "trace") {
            setSwitch(key, value, c_.trace);
        } else if (key == "check_at_start") {
            setSwitch(key, value, c_.checkAtStart);
        } else if (key == "ftp_tls") {
            const std::string v = lower(value);
            if (v == "auto" || v == "require" || v == "off") {
                c_.ftpTls = v == "auto"      ? FtpTls::Auto
                            : v == "require" ? FtpTls::Require
                                             : FtpTls::Off;
            } else {
                problem("ftp_tls must be auto, require or off, not \"" + shown(value) + "\"");
            }
        } else if (key == "ftp_ca_file") {
            if (const std::string why = value.empty() ? "" : caFileProblem(value); !why.empty()) {
                problem("ftp_ca_file \"" + shown(value) + "\" " + why);
            } else {
                c_.ftpCaFile = value;
            }
        } else {
            problem("\"" + shown(key) + "\" is not a setting of this program");
        }
    }

    void setSwitch(const std::string& key, const std::string& value, bool& target) {
        const int on = switchValue(value);
        if (on < 0) {
            problem(key + " must be on or off, not \"" + shown(value) + "\"");
        } else {
            target = on == 1;
        }
    }

    void host(const std::string& key, const std::string& value, std::string& into) {
        std::string why;
        if (value.empty()) {
            problem(key + " is empty");
        } else if (!parseHostPort(value, &why)) {
            problem(key + " \"" + shown(value) + "\" " + why);
        } else {
            into = value;
        }
    }

    void port(const std::string& key, const std::string& value) {
        const int n = comNumber(key);
        if (n == 0) {
            problem("\"" + shown(key) + "\" is not a port name (COM1 to COM12)");
        } else if (n < 0) {
            problem(shown(key) + " is not in the port list, which has COM1 to COM12");
        } else if (value.empty()) {
            problem(shown(key) + " names no device");
        } else if (value.front() != '/') {
            problem(shown(key) + " \"" + shown(value) + "\" is not a full device path (from /)");
        } else {
            c_.ports[n] = value;
        }
    }

    void problem(const std::string& what) {
        c_.problems.push_back(std::string(source_) + ", line " + std::to_string(number_) + ": " +
                              what + "; ignored.");
    }

    AppConfig& c_;
    std::string_view source_;
    std::string section_;
    std::string sectionShown_;
    int number_ = 0;
};

bool exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool readConfigFile(const std::string& path, std::string& text, std::string& why) {
    // Non-blocking, so a FIFO named by mistake cannot hold the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = "it is not a file";
        return false;
    }
    text.assign(kMaxConfigBytes, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            why = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    return true;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

}  // namespace

std::map<int, std::string> AppConfig::defaultPortMap() {
    std::map<int, std::string> map;
    for (int i = 0; i < 4; ++i) {
        map[1 + i] = "/dev/ttyS" + std::to_string(i);
        map[5 + i] = "/dev/ttyUSB" + std::to_string(i);
        map[9 + i] = "/dev/ttyACM" + std::to_string(i);
    }
    return map;
}

std::string AppConfig::devicePath(int port) const {
    auto it = ports.find(port);
    return it == ports.end() ? std::string() : it->second;
}

std::vector<std::string> AppConfig::devicePaths() const {
    std::vector<std::string> paths;
    for (const auto& [port, path] : ports) {
        paths.push_back(path);
    }
    return paths;
}

AppConfig parseAppConfig(std::string_view text, AppConfig base, std::string_view source) {
    ConfigReader reader(base, source);
    int number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        reader.line(text.substr(0, end), ++number);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return base;
}

ConfigLocations ConfigLocations::fromEnvironment(const std::string& exeDir) {
    ConfigLocations where;
    where.named = envOr(kConfigEnvVar, "");
    where.user = configFolder() + "/" + std::string(kConfigFileName);
    where.system = "/etc/" + std::string(kConfigFileName);
    where.beside = exeDir + "/" + std::string(kConfigFileName);
    return where;
}

std::vector<std::string> configFilesToRead(const ConfigLocations& where) {
    if (!where.named.empty()) {
        return {where.named};
    }
    std::vector<std::string> files;
    for (const std::string* path : {&where.system, &where.user}) {
        if (exists(*path)) {
            files.push_back(*path);
        }
    }
    if (files.empty() && exists(where.beside)) {
        files.push_back(where.beside);
    }
    return files;
}

AppConfig loadAppConfig(const ConfigLocations& where) {
    AppConfig config;
    for (const std::string& path : configFilesToRead(where)) {
        std::string text;
        std::string why;
        if (!readConfigFile(path, text, why)) {
            config.problems.push_back("Cannot read " + path + " (" + why +
                                      "); the built-in settings stand in for it.");
            continue;
        }
        config = parseAppConfig(text, std::move(config), path);
        config.files.push_back(path);
    }
    return config;
}

AppConfig loadAppConfig(const std::string& exeDir) {
    return loadAppConfig(ConfigLocations::fromEnvironment(exeDir));
}

}  // namespace k9
