#pragma once

// The support trace: one file per update run that tells support what the unit said, what was
// answered and what the server did, with the unit's credentials masked.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace k9 {

inline constexpr std::size_t kTraceKeptFiles = 20;
inline constexpr std::size_t kTraceMaxBytes = 5u << 20;
// What one line shows of a chunk of bytes.
inline constexpr std::size_t kTraceLineBytes = 160;
inline constexpr const char* kTraceEnvVar = "K9UPDATER_TRACE";

// $XDG_STATE_HOME/k9updater/traces, else ~/.local/state/k9updater/traces.
std::string defaultTraceFolder();
bool traceRequestedByEnvironment();
// Bytes as readable text: \r, \n, \t, \\ and every other byte outside printable ASCII as
// \xNN. Beyond `limit` input bytes the rest is counted, not shown.
std::string escapeTraceText(std::string_view bytes, std::size_t limit = kTraceLineBytes);
// The trace files of a folder, oldest first (their names sort by time).
std::vector<std::string> traceFiles(const std::string& folder);
// Deletes the oldest files until at most `keep` are left.
void pruneTraces(const std::string& folder, std::size_t keep);

struct TraceSecret {
    std::string text;
    std::size_t shown = 0;  // leading characters left readable
};
// Every occurrence of a secret, in any case, keeps its first `shown` characters and has one
// '*' for each of the others.
std::string maskSecrets(std::string_view text, const std::vector<TraceSecret>& secrets);

// Writes the trace of one run. Closed, every call returns at once and formats nothing.
class SupportTrace final {
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds, any origin

    SupportTrace() = default;
    ~SupportTrace();
    SupportTrace(const SupportTrace&) = delete;
    SupportTrace& operator=(const SupportTrace&) = delete;

    // Starts a new file in `folder` and writes the header. On failure returns false and
    // leaves why in `error`; the trace stays closed.
    bool open(const std::string& folder, const std::string& version, Clock clock,
              std::string* error);
    bool on() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }
    std::int64_t elapsedMs() const { return on() ? clock_() - startMs_ : 0; }

    // One line: the ms since the start, a short tag and the text, masked and escaped.
    void line(std::string_view tag, std::string_view text, std::size_t limit = kTraceLineBytes) {
        if (on()) {
            write(tag, text, limit);
        }
    }
    // Masked from now on, and in every line still held.
    void addSecret(const std::string& text, std::size_t shown);
    // Lines written while holding wait until the hold ends, so that text split across them
    // is masked as a whole once the secret is known.
    void hold() { holding_ = on(); }
    void release();
    // Pushes what is buffered to the file.
    void flush();
    void close(std::string_view lastLine);

  private:
    struct Held {
        std::int64_t ms;
        std::string tag;
        std::string text;
        std::size_t limit;
    };
    void write(std::string_view tag, std::string_view text, std::size_t limit);
    void writeLine(std::int64_t ms, std::string_view tag, std::string_view masked,
                   std::size_t limit);
    void put(const std::string& text);
    void fail(const char* what);

    std::FILE* file_ = nullptr;
    std::string path_;
    Clock clock_;
    std::int64_t startMs_ = 0;
    std::size_t written_ = 0;
    bool full_ = false;
    bool holding_ = false;
    std::vector<Held> held_;
    std::vector<TraceSecret> secrets_;
};

// Times one operation: a line as it starts, one with its result, time and size when done.
class TraceSpan final {
  public:
    TraceSpan(SupportTrace* trace, std::string_view what, std::string_view detail);
    TraceSpan(const TraceSpan&) = delete;
    TraceSpan& operator=(const TraceSpan&) = delete;
    // Returns ok. The size is that of localFile, when one is named.
    bool done(bool ok, const std::string& localFile = {});

  private:
    SupportTrace* trace_;
    std::string what_;
    std::int64_t startMs_ = 0;
};

}  // namespace k9
