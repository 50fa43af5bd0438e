#pragma once

#include <QStringList>
#include <string>

namespace k9 {

// What one call of k9update does. Each mode is one option of its own (see kModes in the
// parser); a run is what happens when none is given.
enum class CliMode { Run, ListPorts, SendKept, History, Check, Forget };

inline constexpr int kAutoPort = 0;

struct CliOptions {
    CliMode mode = CliMode::Run;
    int port = -1;     // 1 to 12, kAutoPort for "auto", -1 when not given
    int edition = -1;  // the file list's index: 0 cameras, 1 schools, 2 test
    std::string configFile;
    bool yes = false;
    int retries = 2;  // how many questions --yes answers with Yes
    bool quiet = false;
    bool json = false;
    std::string serial;  // --serial, or the unit --forget names; upper case
};

struct CommandLine {
    CliOptions options;
    bool help = false;
    bool version = false;
    std::string error;  // one line naming the problem; empty when the line is good
};

CommandLine parseCommandLine(const QStringList& arguments);
// --help's text, the exit codes included.
std::string usageText();
inline constexpr const char* kUsageHint = "Try 'k9update --help' for more information.";

// The exit codes of a run, as --help and the man page list them.
namespace exitcode {
inline constexpr int kUpdated = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kNoAnswer = 3;
inline constexpr int kServer = 4;
inline constexpr int kPort = 5;
inline constexpr int kLocationsKept = 6;
inline constexpr int kUpdateWaits = 10;  // --check: a newer file waits on the server
inline constexpr int kInterrupted = 130;
}  // namespace exitcode

}  // namespace k9
