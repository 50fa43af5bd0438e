#include "update/run_outcome.h"

#include <cstdio>

#include "update/location_upload.h"
#include "update/run_events.h"

namespace k9 {
namespace {

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

}  // namespace k9
