#include "devices/system_facts.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devices/lock_files.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;

// More than any file read here holds; the kernel log is read up to this.
constexpr std::size_t kMaxReadBytes = 8 << 20;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool allDigits(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

std::optional<std::uint16_t> parseHex(std::string_view text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    const std::string digits(text);
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &end, 16);
    if (end != digits.c_str() + digits.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// The quoted value after `key` ("ENV{PRODUCT}==" -> 1a86/7523/*), when the line has one.
std::optional<std::string_view> ruleValue(std::string_view line, std::string_view key) {
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos || line.substr(at + key.size(), 1) != "\"") {
        return std::nullopt;
    }
    const std::size_t from = at + key.size() + 1;
    const std::size_t to = line.find('"', from);
    if (to == std::string_view::npos) {
        return std::nullopt;
    }
    return line.substr(from, to - from);
}

long lockPidOf(const SystemRoot& root, const std::string& node) {
    for (const std::string& folder : defaultLockFolders()) {
        const long pid = lockFilePid(readText(root.path(folder + "/" + lockFileName(node))));
        if (pid != 0) {
            return pid;
        }
    }
    return 0;
}

// Whether one of the open files in fd/ is `node`.
bool fdsHold(DIR* fds, const std::string& node) {
    while (const dirent* entry = ::readdir(fds)) {
        char target[4096];
        const ssize_t n = ::readlinkat(::dirfd(fds), entry->d_name, target, sizeof target - 1);
        if (n > 0 && std::string_view(target, static_cast<std::size_t>(n)) == node) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<ProcessSeen> scanProcesses(const SystemRoot& root, const std::string& node) {
    std::vector<ProcessSeen> seen;
    const std::string proc = root.path("/proc");
    DIR* dir = ::opendir(proc.c_str());
    if (dir == nullptr) {
        return seen;
    }
    const long lockPid = lockPidOf(root, node);
    while (const dirent* entry = ::readdir(dir)) {
        if (!allDigits(entry->d_name)) {
            continue;
        }
        const std::string folder = proc + "/" + entry->d_name;
        ProcessSeen process;
        process.pid = std::atol(entry->d_name);
        process.command = firstLine(readText(folder + "/comm"));
        if (process.command.empty()) {
            continue;  // gone meanwhile
        }
        if (DIR* fds = ::opendir((folder + "/fd").c_str())) {
            process.fdReadable = true;
            process.holds = fdsHold(fds, node);
            ::closedir(fds);
        }
        process.holds = process.holds || process.pid == lockPid;
        seen.push_back(std::move(process));
    }
    ::closedir(dir);
    return seen;
}

std::map<std::string, std::string> udevProperties(const SystemRoot& root, const std::string& node) {
    std::map<std::string, std::string> properties;
    const std::string number =
        firstLine(readText(root.path("/sys/class/tty/" + baseName(node) + "/dev")));
    if (number.empty()) {
        return properties;
    }
    std::istringstream lines(readText(root.path("/run/udev/data/c" + number)));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (line.rfind("E:", 0) == 0 && equals != std::string::npos) {
            properties[line.substr(2, equals - 2)] = line.substr(equals + 1);
        }
    }
    return properties;
}

std::optional<UsbIds> usbIdsOf(const SystemRoot& root, const std::string& node) {
    std::error_code error;
    const fs::path sys = fs::weakly_canonical(root.path("/sys"), error);
    fs::path at = fs::canonical(root.path("/sys/class/tty/" + baseName(node) + "/device"), error);
    // The USB device is the nearest folder above the interface with both ids.
    for (; !error && at.string().size() > sys.string().size(); at = at.parent_path()) {
        const auto vendor = parseHex(firstLine(readText(at / "idVendor")));
        const auto product = parseHex(firstLine(readText(at / "idProduct")));
        if (vendor && product) {
            return UsbIds{*vendor, *product};
        }
    }
    return std::nullopt;
}

bool ruleMatches(std::string_view line, const UsbIds& ids) {
    if (const auto product = ruleValue(line, "ENV{PRODUCT}==")) {
        // The kernel's "%x/%x/%x": vendor, product, release, without leading zeros.
        const std::size_t first = product->find('/');
        const std::size_t second = product->find('/', first + 1);
        if (first == std::string_view::npos) {
            return false;
        }
        return parseHex(product->substr(0, first)) == ids.vendor &&
               parseHex(product->substr(first + 1, second - first - 1)) == ids.product;
    }
    const auto vendor = ruleValue(line, "{idVendor}==");
    const auto product = ruleValue(line, "{idProduct}==");
    return vendor && product && parseHex(*vendor) == ids.vendor &&
           parseHex(*product) == ids.product;
}

std::optional<RuleHit> findUdevRule(const SystemRoot& root, std::string_view fileWord,
                                    const UsbIds& ids) {
    // The earlier folder wins for a name, as udev reads them.
    std::map<std::string, std::string> files;
    for (const char* folder :
         {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
        std::error_code error;
        for (fs::directory_iterator it(root.path(folder), error), end; !error && it != end;
             it.increment(error)) {
            files.emplace(it->path().filename().string(), it->path().string());
        }
    }
    for (const auto& [name, path] : files) {
        if (name.find(fileWord) == std::string::npos || !name.ends_with(".rules")) {
            continue;
        }
        std::istringstream lines(readText(path));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start != std::string::npos && line[start] != '#' && ruleMatches(line, ids)) {
                return RuleHit{name, line.substr(start)};
            }
        }
    }
    return std::nullopt;
}

std::vector<std::string> kernelMessages(const SystemRoot& root) {
    std::vector<std::string> messages;
    // /dev/kmsg hands out one record a read and says EAGAIN at the end; many systems let only
    // root read it, and then there is nothing to tell.
    const int fd = ::open(root.path("/dev/kmsg").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return messages;
    }
    std::string text;
    char buffer[8192];
    while (text.size() < kMaxReadBytes) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EINTR && errno != EPIPE)) {
            break;  // EPIPE: records were overwritten while we read; go on with the next
        }
    }
    ::close(fd);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == ' ') {
            continue;  // a record's key=value continuation
        }
        const std::size_t semicolon = line.find(';');
        messages.push_back(semicolon == std::string::npos ? line : line.substr(semicolon + 1));
    }
    return messages;
}

KernelStory kernelStory(const std::vector<std::string>& messages, std::string_view nodeName) {
    KernelStory story;
    const std::string attached = "attached to " + std::string(nodeName);
    std::size_t arrival = messages.size();
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].ends_with(attached)) {
            arrival = i;
        }
    }
    if (arrival == messages.size()) {
        return story;
    }
    // "usb 1-1: ...": the messages of the same USB device share the part before the colon.
    const std::string& line = messages[arrival];
    const std::string device = line.substr(0, line.find(": ") + 2);
    for (std::size_t i = arrival + 1; i < messages.size(); ++i) {
        story.brlttyClaimed =
            story.brlttyClaimed || (messages[i].rfind(device, 0) == 0 &&
                                    messages[i].find("'brltty'") != std::string::npos);
    }
    for (std::size_t i = arrival; i-- > 0 && !story.ids;) {
        const std::string& m = messages[i];
        const std::size_t vendor = m.find("idVendor=");
        const std::size_t product = m.find("idProduct=");
        if (m.rfind(device, 0) == 0 && vendor != std::string::npos &&
            product != std::string::npos) {
            const auto v = parseHex(m.substr(vendor + 9, 4));
            const auto p = parseHex(m.substr(product + 10, 4));
            if (v && p) {
                story.ids = UsbIds{*v, *p};
            }
        }
    }
    return story;
}

}  // namespace k9
