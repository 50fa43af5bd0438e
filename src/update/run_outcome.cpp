#include "update/run_outcome.h"

#include <array>
#include <cstdio>

#include "update/location_upload.h"
#include "update/run_events.h"

namespace k9 {
namespace {

// A value's stored word and its text for people; the first row of a table stands in for a
// value it lacks.
template <typename E>
struct Words {
    E value;
    std::string_view word;
    const char* text;
};
constexpr std::array kEnds = {
    Words<RunEnd>{RunEnd::None, "none", "not ended"},
    Words<RunEnd>{RunEnd::Updated, "updated", "updated"},
    Words<RunEnd>{RunEnd::Failed, "failed", "failed"},
    Words<RunEnd>{RunEnd::NoAnswer, "no-answer", "no answer"},
    Words<RunEnd>{RunEnd::ServerFailed, "server-failed", "server failed"},
    Words<RunEnd>{RunEnd::PortError, "port-error", "port error"},
    Words<RunEnd>{RunEnd::Stopped, "stopped", "stopped"},
};
constexpr std::array kFates = {
    Words<LocationsFate>{LocationsFate::NotOffered, "not-offered", "not offered"},
    Words<LocationsFate>{LocationsFate::Declined, "declined", "declined"},
    Words<LocationsFate>{LocationsFate::Unanswered, "unanswered", "no answer"},
    Words<LocationsFate>{LocationsFate::Uploaded, "uploaded", "uploaded"},
    Words<LocationsFate>{LocationsFate::Kept, "kept", "kept"},
    Words<LocationsFate>{LocationsFate::NotReceived, "not-received", "not received"},
};

template <typename E, std::size_t N>
const Words<E>& byValue(const std::array<Words<E>, N>& table, E value) {
    for (const Words<E>& w : table) {
        if (w.value == value) {
            return w;
        }
    }
    return table.front();
}

template <typename E, std::size_t N>
std::optional<E> byWord(const std::array<Words<E>, N>& table, std::string_view word) {
    for (const Words<E>& w : table) {
        if (w.word == word) {
            return w.value;
        }
    }
    return std::nullopt;
}

std::string withReason(const std::string& head, const std::string& reason) {
    const std::string why = oneLine(reason);
    return head + (why.empty() ? "" : ": " + why) + ".";
}

std::string locationsSentence(const RunRecord& r) {
    std::string text;
    switch (r.locations) {
        case LocationsFate::Unanswered:
            text = " Its stored locations were not collected: the unit did not offer them within " +
                   minutesText(offerWaitMs(r.edition)) + ".";
            break;
        case LocationsFate::Kept:
            text = " Its stored locations did not reach the server; they are kept in " +
                   r.locationsPath + ".";
            break;
        case LocationsFate::NotReceived:
            text = withReason(" Its stored locations were not received", r.reason) +
                   " None were sent to the server.";
            break;
        case LocationsFate::NotOffered:
        case LocationsFate::Declined:
        case LocationsFate::Uploaded:
            break;
    }
    if (r.earlierKept > 0) {
        const std::string counted =
            std::to_string(r.earlierKept) + (r.earlierKept == 1 ? " location" : " locations");
        text += r.earlierKeptSent ? " " + counted + " kept by earlier runs went to the server."
                                  : " " + counted + " kept by earlier runs are still kept in " +
                                        r.locationsPath + ".";
    }
    return text;
}

}  // namespace

std::string oneLine(std::string text) {
    std::string out;
    for (std::size_t p = 0; p < text.size(); ++p) {
        const char c = text[p];
        if (c == '\r' || c == '\n') {
            while (!out.empty() && out.back() == ' ') {
                out.pop_back();
            }
            if (!out.empty() && out.back() != ';' && out.back() != '.') {
                out += ';';
            }
            if (!out.empty() && out.back() != ' ') {
                out += ' ';
            }
            continue;
        }
        out += c;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.' || out.back() == ';')) {
        out.pop_back();
    }
    const auto first = out.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : out.substr(first);
}

std::string minutesText(std::int64_t ms) {
    const std::int64_t seconds = (ms + 999) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string outcomeText(const RunRecord& r, const std::string& deviceName) {
    switch (r.end) {
        case RunEnd::Updated:
            return deviceName + " updated." + locationsSentence(r);
        case RunEnd::Stopped:
            return deviceName + " update stopped.";
        case RunEnd::PortError:
            return withReason("COM" + std::to_string(r.port) + " could not be opened", r.reason);
        case RunEnd::NoAnswer:
        case RunEnd::ServerFailed:
        case RunEnd::Failed:
            return withReason(deviceName + " updating unsuccessful", r.reason);
        case RunEnd::None:
            break;
    }
    return deviceName + " has not been updated.";
}

std::string_view runEndWord(RunEnd end) {
    return byValue(kEnds, end).word;
}

std::optional<RunEnd> runEndFromWord(std::string_view word) {
    return byWord(kEnds, word);
}

std::string_view locationsWord(LocationsFate fate) {
    return byValue(kFates, fate).word;
}

std::optional<LocationsFate> locationsFromWord(std::string_view word) {
    return byWord(kFates, word);
}

std::string_view answerWord(MessageAnswer answer) {
    return answer == MessageAnswer::Yes ? "yes" : answer == MessageAnswer::No ? "no" : "ok";
}

std::string runEndText(RunEnd end) {
    return byValue(kEnds, end).text;
}

std::string locationsText(const RunRecord& run) {
    const std::string text = byValue(kFates, run.locations).text;
    if (run.locations == LocationsFate::Kept && !run.locationsPath.empty()) {
        return text + " in " + run.locationsPath;
    }
    return text;
}

}  // namespace k9
