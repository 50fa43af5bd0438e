#include "internet/tls_memory.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "config/host_port.h"
#include "diagnostics/support_trace.h"
#include "platform/file_table.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

constexpr std::size_t kMaxBytes = 64 * 1024;
constexpr const char* kHeader =
    "# FTP servers that have spoken TLS to k9updater, one \"host port\" a line. With ftp_tls =\n"
    "# auto each of them must speak TLS again; remove a line only for a server that no longer\n"
    "# offers TLS for good.\n";

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

std::string key(const std::string& host, long port) {
    return lower(host) + " " + std::to_string(port);
}

// "host port" as written; nothing for a line that is not one.
std::optional<std::string> serverOf(const std::string& line) {
    const auto blank = line.rfind(' ');
    if (blank == std::string::npos) {
        return std::nullopt;
    }
    std::string why;
    const auto address = parseHostPort(line.substr(0, blank) + ":" + line.substr(blank + 1), &why);
    if (!address || address->port == 0 || address->host != line.substr(0, blank)) {
        return std::nullopt;
    }
    return key(address->host, address->port);
}

}  // namespace

TlsMemory::TlsMemory(std::string path, SupportTrace* trace)
    : path_(std::move(path)), trace_(trace) {
    load();
}

void TlsMemory::load() {
    if (path_.empty()) {
        return;
    }
    std::string text;
    try {
        if (!fileExists(path_) && !folderExists(path_)) {
            return;
        }
        text = readWholeFile(path_);
    } catch (const RuntimeError& e) {
        unreadable_ = e.description();
        return;
    }
    if (text.size() > kMaxBytes) {
        unreadable_ = "it is longer than such a list can be";
        return;
    }
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (const auto server = serverOf(line)) {
            servers_.insert(*server);
        } else {
            damaged_.push_back(line);
        }
    }
}

bool TlsMemory::holds(const std::string& host, long port) {
    if (!unreadable_.empty()) {
        tell("the list of FTP servers that spoke TLS, " + path_ + ", cannot be read (" +
             unreadable_ + "): every server is held to TLS until it can");
        return true;
    }
    const std::string server = key(host, port);
    if (damaged_.empty()) {
        return servers_.count(server) != 0;
    }
    // Damaged lines may have named this server: it stays held to TLS, as a line of its own.
    const std::string name = lower(host);
    for (const std::string& line : damaged_) {
        if (lower(line).find(name) != std::string::npos) {
            servers_.insert(server);
        }
    }
    tell("the list of FTP servers that spoke TLS, " + path_ + ", had " +
         std::to_string(damaged_.size()) + " damaged line(s); rebuilt from what could be read");
    damaged_.clear();
    save();
    return servers_.count(server) != 0;
}

void TlsMemory::remember(const std::string& host, long port) {
    if (path_.empty() || !unreadable_.empty() || !servers_.insert(key(host, port)).second) {
        return;
    }
    save();
}

void TlsMemory::save() {
    std::string text = kHeader;
    for (const std::string& server : servers_) {
        text += server + "\n";
    }
    try {
        createFolder(std::filesystem::path(path_).parent_path().string());
        replaceFileAtomically(path_, text, false);
    } catch (const RuntimeError& e) {
        tell("the list of FTP servers that spoke TLS cannot be written: " + e.description());
    }
}

void TlsMemory::tell(const std::string& text) {
    std::fprintf(stderr, "k9updater: %s\n", text.c_str());
    if (trace_ != nullptr) {
        trace_->line("tls", text);
    }
}

}  // namespace k9
