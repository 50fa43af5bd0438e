#include "cli/history_commands.h"

#include <ctime>

#include "cli/run_report.h"
#include "history/history_store.h"
#include "history/update_check.h"
#include "platform/qt_event_loop.h"
#include "transfer/cftp.h"

namespace k9 {
namespace {

// A command waits this long for a history another program holds; it has nothing else to do.
constexpr int kBusyWaitMs = 1000;

std::string isoTime(std::time_t when) {
    if (when == 0) {
        return "null";
    }
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[48];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return jsonString(text);
}

void printJson(const std::vector<HistoryEntry>& entries, std::ostream& out) {
    out << '[';
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RunRecord& r = entries[i].run;
        out << (i == 0 ? "\n  {" : ",\n  {") << "\"serial\":" << jsonString(r.serialNumber)
            << ",\"started\":" << isoTime(r.started) << ",\"ended\":" << isoTime(r.ended)
            << ",\"edition\":" << jsonString(editionTitle(r))
            << ",\"file\":" << jsonString(r.remoteFile)
            << ",\"serverFileSize\":" << r.serverFileSize
            << ",\"serverFileTime\":" << isoTime(r.serverFileTime)
            << ",\"lineCount\":" << r.lineCount << ",\"linesSent\":" << r.linesSent
            << ",\"outcome\":" << jsonString(std::string(runEndWord(r.end)))
            << ",\"locations\":" << jsonString(std::string(locationsWord(r.locations)))
            << ",\"locationsPath\":" << jsonString(r.locationsPath)
            << ",\"reason\":" << jsonString(r.reason)
            << ",\"version\":" << jsonString(entries[i].version) << '}';
    }
    out << (entries.empty() ? "]\n" : "\n]\n");
}

int check(HistoryStore& store, const CliOptions& o, const AppConfig& config, std::ostream& out) {
    const std::vector<std::string> units =
        o.serial.empty() ? store.units() : std::vector<std::string>{o.serial};
    if (units.empty()) {
        out << "No unit in the history yet: nothing to check.\n";
        return exitcode::kUpdated;
    }
    QtEventLoop loop;
    bool waits = false;
    bool notAsked = false;
    for (const std::string& serial : units) {
        const std::string file = fileToCheck(store, serial, o.edition);
        cFTP ftp(loop);
        const UnitCheck c =
            checkUnit(ftp, config.ftpHost, serial, file, store.lastUpdate(serial, file));
        out << checkLine(c, std::time(nullptr)) << '\n';
        waits = waits || c.verdict == UnitCheck::Verdict::UpdateWaits;
        notAsked = notAsked || c.verdict == UnitCheck::Verdict::NotAsked;
    }
    if (waits) {
        return exitcode::kUpdateWaits;
    }
    return notAsked ? exitcode::kServer : exitcode::kUpdated;
}

}  // namespace

bool isHistoryMode(CliMode mode) {
    return mode == CliMode::History || mode == CliMode::Check || mode == CliMode::Forget;
}

int runHistoryCommand(const CliOptions& o, const AppConfig& config, std::ostream& out,
                      std::ostream& err) {
    HistoryStore store(
        defaultHistoryPath(),
        [&err](const std::string& line) { err << "k9update: " << line << '\n'; }, kBusyWaitMs);
    if (o.mode == CliMode::Check) {
        return check(store, o, config, out);
    }
    if (o.mode == CliMode::Forget) {
        const int forgotten = store.forget(o.serial);
        if (forgotten < 0) {
            return exitcode::kFailed;
        }
        out << "Deleted " << forgotten << " run(s) of " << o.serial << " from the history.\n";
        return exitcode::kUpdated;
    }
    const std::vector<HistoryEntry> runs = store.runs(o.serial);
    if (o.json) {
        printJson(runs, out);
    } else if (runs.empty()) {
        out << "No runs in the history" << (o.serial.empty() ? "" : " for " + o.serial) << ".\n";
    } else {
        out << tableText(historyTable(runs));
    }
    return exitcode::kUpdated;
}

}  // namespace k9
