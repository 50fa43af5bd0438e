#include "sim_command_line.h"

#include <charconv>
#include <functional>
#include <map>
#include <set>

namespace k9 {
namespace {

const std::set<int> kAnyStage = {1, 2, 3, 4, 5, 6, 7, 8};
const std::set<int> kKeywordStages = {1, 2, 3, 4, 7};
const std::set<int> kLateStages = {1, 2, 3, 4, 7, 8};
const std::set<int> kMergeStages = {2, 3, 4, 8};

bool toInt(const std::string& text, std::int64_t& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

// Whole or decimal seconds ("2", "0.5") as milliseconds.
bool secondsToMs(const std::string& text, std::int64_t& out) {
    const auto dot = text.find('.');
    std::int64_t whole = 0;
    if (!toInt(text.substr(0, dot), whole) || whole < 0) {
        return false;
    }
    std::int64_t ms = whole * 1000;
    if (dot != std::string::npos) {
        const std::string frac = (text.substr(dot + 1) + "000").substr(0, 3);
        std::int64_t f = 0;
        if (text.size() == dot + 1 || !toInt(frac, f) || f < 0) {
            return false;
        }
        ms += f;
    }
    out = ms;
    return true;
}

class Parser {
  public:
    explicit Parser(SimCommandLine& cl) : cl_(cl) {}

    void run(const std::vector<std::string>& args) {
        const auto flags = flagTable();
        const auto valued = valueTable();
        for (std::size_t i = 0; i < args.size() && cl_.error.empty(); ++i) {
            std::string name = args[i];
            std::string value;
            bool hasValue = false;
            if (const auto eq = name.find('=');
                eq != std::string::npos && name.rfind("--", 0) == 0) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasValue = true;
            }
            if (const auto f = flags.find(name); f != flags.end() && !hasValue) {
                f->second();
            } else if (const auto v = valued.find(name); v != valued.end()) {
                if (!hasValue) {
                    if (i + 1 >= args.size()) {
                        cl_.error = name + " needs a value";
                        break;
                    }
                    value = args[++i];
                }
                v->second(name, value);
            } else {
                cl_.error = "unknown option " + args[i];
            }
        }
    }

  private:
    using Flag = std::function<void()>;
    using Valued = std::function<void(const std::string&, const std::string&)>;

    std::map<std::string, Flag> flagTable() {
        SimOptions& o = cl_.options;
        return {
            {"--help", [this] { cl_.help = true; }},
            {"-h", [this] { cl_.help = true; }},
            {"--lower-serial", [&o] { o.serialFault = SerialFault::kLowerCase; }},
            {"--short-serial", [&o] { o.serialFault = SerialFault::kShort; }},
            {"--bad-serial", [&o] { o.serialFault = SerialFault::kInvalidChars; }},
            {"--flood", [&o] { o.flood = true; }},
            {"--no-final-done", [&o] { o.expectFinalDone = false; }},
        };
    }

    std::map<std::string, Valued> valueTable() {
        SimOptions& o = cl_.options;
        return {
            {"--serial", [&o](auto&, auto& v) { o.serial = v; }},
            {"--answer", [this](auto& n, auto& v) { answer(n, v); }},
            {"--locations", [this](auto&, auto& v) { cl_.locationsFile = v; }},
            {"--received", [this](auto&, auto& v) { cl_.receivedFile = v; }},
            {"--link", [this](auto&, auto& v) { cl_.linkPath = v; }},
            {"--timeout",
             [this](auto& n, auto& v) {
                 if (!secondsToMs(v, cl_.timeoutMs)) {
                     cl_.error = n + " wants seconds, not " + v;
                 }
             }},
            {"--start-ms", ms(o.startDelayMs)},
            {"--reply-ms", ms(o.replyDelayMs)},
            {"--retry-ms", ms(o.retryMs)},
            {"--save-ms", ms(o.saveMs)},
            {"--late-ms", ms(o.lateByMs)},
            {"--silent-from", stage(o.silentFromStage, kAnyStage)},
            {"--drop", stage(o.dropKeywordStage, kKeywordStages)},
            {"--late", stage(o.lateKeywordStage, kLateStages)},
            {"--garbage-before", stage(o.garbageBeforeStage, kKeywordStages)},
            {"--garbage-instead", stage(o.garbageInsteadStage, kKeywordStages)},
            {"--no-cr", stage(o.noCrStage, kKeywordStages)},
            {"--split", stage(o.splitKeywordStage, kKeywordStages)},
            {"--split-ms", ms(o.splitGapMs)},
            {"--merge", stage(o.mergedKeywordStage, kMergeStages)},
            {"--disconnect-at", stage(o.disconnectAtStage, kAnyStage)},
            {"--disconnect-after-lines",
             [this, &o](auto& n, auto& v) {
                 std::int64_t lines = 0;
                 if (!toInt(v, lines) || lines < 1 || lines > 1'000'000'000) {
                     cl_.error = n + " wants a number of lines, not " + v;
                 } else {
                     o.disconnectAfterLines = static_cast<int>(lines);
                 }
             }},
        };
    }

    Valued ms(std::int64_t& field) {
        return [this, &field](const std::string& n, const std::string& v) {
            if (!toInt(v, field) || field < 0) {
                cl_.error = n + " wants milliseconds, not " + v;
            }
        };
    }

    Valued stage(int& field, const std::set<int>& allowed) {
        return [this, &field, &allowed](const std::string& n, const std::string& v) {
            std::int64_t s = 0;
            if (!toInt(v, s) || allowed.count(static_cast<int>(s)) == 0) {
                cl_.error = n + " does not apply to stage " + v;
            } else {
                field = static_cast<int>(s);
            }
        };
    }

    void answer(const std::string& n, const std::string& v) {
        static const std::map<std::string, OfferAnswer> kAnswers = {
            {"yes", OfferAnswer::kYes}, {"no", OfferAnswer::kNo}, {"never", OfferAnswer::kNever}};
        const auto it = kAnswers.find(v);
        if (it == kAnswers.end()) {
            cl_.error = n + " wants yes, no or never, not " + v;
        } else {
            cl_.options.answer = it->second;
        }
    }

    SimCommandLine& cl_;
};

}  // namespace

SimCommandLine parseSimCommandLine(const std::vector<std::string>& args) {
    SimCommandLine cl;
    Parser(cl).run(args);
    if (cl.error.empty() && cl.options.serial.empty()) {
        cl.error = "--serial must not be empty";
    }
    return cl;
}

std::string simUsage() {
    return R"(Usage: k9sim [options]
Plays a K9 detector on a pseudo-terminal. Prints the slave device path on the first line,
then one line per protocol step. Exits 0 when a whole session ended as scripted, 1 when it
did not (time-out, stopped), 2 on a bad command line or set-up failure.

Script:
  --serial TEXT          serial number sent after #FTPUN (default K9A1234)
  --answer yes|no|never  answer to the stored-locations offer (default yes)
  --locations FILE       stored locations sent on yes (raw bytes, lines ended CR LF)
  --no-final-done        on yes, do not wait for the done code after the locations
  --start-ms MS          from the port opening to the serial number (default 1000)
  --reply-ms MS          from an acknowledgement to the next keyword (default 200)
  --retry-ms MS          re-send an unanswered keyword after MS, 0 never (default 3000)
  --save-ms MS           time spent saving before the offer (default 3000)
Faults (stages: 1 serial, 2 password, 3 path, 4 get, 5 download, 6 data, 7 offer,
8 locations; each keyword fault fires once):
  --silent-from STAGE    send nothing from STAGE on (1-8)
  --drop STAGE           the keyword of STAGE is lost on the line (1-4, 7)
  --late STAGE           send the message of STAGE late (1-4, 7, 8), by --late-ms MS (7000)
  --garbage-before STAGE noise before the keyword, same write (1-4, 7)
  --garbage-instead STAGE noise instead of the keyword (1-4, 7)
  --no-cr STAGE          the keyword ends in LF without CR (1-4, 7)
  --split STAGE          send the keyword of STAGE in two writes (1-4, 7), the second
                         --split-ms MS later (2500)
  --merge STAGE          send the keyword of STAGE with the previous one (2-4, 8)
  --lower-serial         serial number in lower case
  --short-serial         serial number of 5 characters
  --bad-serial           serial number with '/' and '*' in it
  --disconnect-at STAGE  hang up the line when STAGE begins (1-8)
  --disconnect-after-lines N  hang up after N data lines
  --flood                on yes, send location text forever without the end of data
Program:
  --link PATH            make PATH a symbolic link to the slave device (removed at exit)
  --received FILE        write everything the unit received, raw, at exit
  --timeout SECONDS      give up after SECONDS (default: wait)
  --help                 this text
)";
}

}  // namespace k9
