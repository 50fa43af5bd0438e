#include "diagnostics/support_trace.h"

#include <curl/curl.h>
#include <sys/utsname.h>

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "config/xdg_paths.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "k9trace-";
constexpr std::string_view kSuffix = ".txt";
constexpr std::string_view kCutLine = "trace cut: the file reached its 5 MB limit";

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string localTime(const char* format, bool utc = false) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (utc) {
        gmtime_r(&now, &parts);
    } else {
        localtime_r(&now, &parts);
    }
    char text[64];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

std::string systemName() {
    utsname u{};
    if (::uname(&u) != 0) {
        return "unknown";
    }
    return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

bool isTraceName(const std::string& name) {
    return name.size() > kPrefix.size() + kSuffix.size() && name.rfind(kPrefix, 0) == 0 &&
           name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

// A name that sorts after every earlier one: date, time and milliseconds, then "_n" when
// two runs start within the same millisecond.
std::string newTraceName(const std::string& folder) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count() %
                    1000;
    char millis[8];
    std::snprintf(millis, sizeof millis, "-%03d", static_cast<int>(ms));
    const std::string stem = std::string(kPrefix) + localTime("%Y%m%d-%H%M%S") + millis;
    std::string name = stem + std::string(kSuffix);
    for (int n = 2; fs::exists(folder + "/" + name) && n < 1000; ++n) {
        name = stem + "_" + std::to_string(n) + std::string(kSuffix);
    }
    return name;
}

}  // namespace

std::string defaultTraceFolder() {
    return stateFolder() + "/traces";
}

bool traceRequestedByEnvironment() {
    const char* value = std::getenv(kTraceEnvVar);
    return value != nullptr && (std::strcmp(value, "1") == 0 || std::strcmp(value, "on") == 0);
}

std::string escapeTraceText(std::string_view bytes, std::size_t limit) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    const std::string_view shown = bytes.substr(0, limit);
    out.reserve(shown.size() + 16);
    for (const char ch : shown) {
        const auto b = static_cast<unsigned char>(ch);
        switch (b) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (b >= 32 && b < 127) {
                    out += ch;
                } else {
                    out += "\\x";
                    out += kHex[b >> 4];
                    out += kHex[b & 15];
                }
        }
    }
    if (bytes.size() > shown.size()) {
        out += " ... (" + std::to_string(bytes.size() - shown.size()) + " more bytes)";
    }
    return out;
}

std::string maskSecrets(std::string_view text, const std::vector<TraceSecret>& secrets) {
    std::string out(text);
    if (secrets.empty()) {
        return out;
    }
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), lowerAscii);
    for (const TraceSecret& secret : secrets) {
        if (secret.text.empty()) {
            continue;
        }
        std::string wanted = secret.text;
        std::transform(wanted.begin(), wanted.end(), wanted.begin(), lowerAscii);
        for (auto p = lower.find(wanted); p != std::string::npos; p = lower.find(wanted, p + 1)) {
            for (std::size_t i = std::min(secret.shown, wanted.size()); i < wanted.size(); ++i) {
                out[p + i] = '*';
            }
        }
    }
    return out;
}

std::vector<std::string> traceFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (isTraceName(name) && it->is_regular_file(ec)) {
            names.push_back(it->path().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void pruneTraces(const std::string& folder, std::size_t keep) {
    const std::vector<std::string> files = traceFiles(folder);
    for (std::size_t i = 0; i + keep < files.size(); ++i) {
        std::error_code ec;
        fs::remove(files[i], ec);
    }
}

SupportTrace::~SupportTrace() {
    close("trace closed");
}

bool SupportTrace::open(const std::string& folder, const std::string& version, Clock clock,
                        std::string* error) {
    close("trace closed");
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        *error = folder + ": " + ec.message();
        return false;
    }
    // One place is left for the new file.
    pruneTraces(folder, kTraceKeptFiles - 1);
    path_ = folder + "/" + newTraceName(folder);
    file_ = std::fopen(path_.c_str(), "wx");
    if (file_ == nullptr) {
        *error = path_ + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 64 * 1024);
    clock_ = std::move(clock);
    startMs_ = clock_();
    written_ = 0;
    full_ = false;
    holding_ = false;
    held_.clear();
    secrets_.clear();
    put("K9 Updater support trace\n");
    put("program: k9updater " + version + "\n");
    put("system: " + systemName() + "\n");
    put(std::string("Qt: ") + qVersion() + "\n");
    put(std::string("libcurl: ") + curl_version() + "\n");
    put("started: " + localTime("%Y-%m-%d %H:%M:%S %z") + " (" +
        localTime("%Y-%m-%d %H:%M:%S UTC", true) + ")\n");
    put("times are milliseconds since the start\n\n");
    flush();
    return on();
}

void SupportTrace::addSecret(const std::string& text, std::size_t shown) {
    if (!on() || text.empty()) {
        return;
    }
    for (const TraceSecret& known : secrets_) {
        if (known.text == text) {
            return;
        }
    }
    secrets_.push_back({text, shown});
    release();
}

void SupportTrace::write(std::string_view tag, std::string_view text, std::size_t limit) {
    const std::int64_t ms = clock_() - startMs_;
    if (holding_) {
        held_.push_back({ms, std::string(tag), std::string(text), limit});
        return;
    }
    writeLine(ms, tag, maskSecrets(text, secrets_), limit);
}

void SupportTrace::release() {
    holding_ = false;
    if (held_.empty()) {
        return;
    }
    // Masked as one text, so that a secret split over two chunks is found.
    std::string joined;
    for (const Held& h : held_) {
        joined += h.text;
    }
    const std::string masked = maskSecrets(joined, secrets_);
    std::size_t at = 0;
    std::vector<Held> held;
    held.swap(held_);
    for (const Held& h : held) {
        writeLine(h.ms, h.tag, std::string_view(masked).substr(at, h.text.size()), h.limit);
        at += h.text.size();
    }
}

void SupportTrace::writeLine(std::int64_t ms, std::string_view tag, std::string_view masked,
                             std::size_t limit) {
    if (full_ || !on()) {
        return;
    }
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9lld  ", static_cast<long long>(ms));
    std::string text = stamp;
    text += tag;
    text.append(tag.size() < 6 ? 6 - tag.size() : 1, ' ');
    text += escapeTraceText(masked, limit);
    text += '\n';
    if (written_ + text.size() + kCutLine.size() + 1 > kTraceMaxBytes) {
        full_ = true;
        put(std::string(kCutLine) + "\n");
        flush();
        return;
    }
    put(text);
}

void SupportTrace::put(const std::string& text) {
    if (file_ == nullptr) {
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
        fail("write");
        return;
    }
    written_ += text.size();
}

void SupportTrace::flush() {
    if (file_ != nullptr && std::fflush(file_) != 0) {
        fail("flush");
    }
}

void SupportTrace::fail(const char* what) {
    // A trace that cannot be written costs one line and nothing else.
    std::fprintf(stderr, "k9updater: support trace %s failed, trace stopped: %s: %s\n", what,
                 path_.c_str(), std::strerror(errno));
    std::fclose(file_);
    file_ = nullptr;
    holding_ = false;
    held_.clear();
}

TraceSpan::TraceSpan(SupportTrace* trace, std::string_view what, std::string_view detail)
    : trace_(trace != nullptr && trace->on() ? trace : nullptr) {
    if (trace_ != nullptr) {
        what_ = std::string(what) + " " + std::string(detail);
        startMs_ = trace_->elapsedMs();
        trace_->line("ftp", what_);
    }
}

bool TraceSpan::done(bool ok, const std::string& localFile) {
    if (trace_ == nullptr || !trace_->on()) {
        return ok;
    }
    std::string text = what_ + (ok ? " done" : " failed") + " after " +
                       std::to_string(trace_->elapsedMs() - startMs_) + " ms";
    if (ok && !localFile.empty()) {
        std::error_code ec;
        const auto size = fs::file_size(localFile, ec);
        if (!ec) {
            text += ", " + std::to_string(size) + " bytes";
        }
    }
    trace_->line("ftp", text);
    return ok;
}

void SupportTrace::close(std::string_view lastLine) {
    if (file_ == nullptr) {
        return;
    }
    release();
    line("end", lastLine);
    flush();
    if (file_ != nullptr) {
        if (std::fclose(file_) != 0) {
            std::fprintf(stderr, "k9updater: support trace close failed: %s: %s\n", path_.c_str(),
                         std::strerror(errno));
        }
        file_ = nullptr;
    }
    held_.clear();
    secrets_.clear();
}

}  // namespace k9
