#include "update/kept_locations.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string_view>

#include "platform/file_table.h"
#include "platform/runtime_error.h"
#include "platform/texts.h"
#include "update/device_link.h"
#include "update/update_sequence.h"

namespace k9 {
namespace {

constexpr std::string_view kSuffix = ".txt";

template <typename Each>
void forEachLine(std::string_view text, Each&& each) {
    while (!text.empty()) {
        const auto end = text.find("\r\n");
        each(text.substr(0, end));
        if (end == std::string_view::npos) {
            return;
        }
        text.remove_prefix(end + 2);
    }
}

}  // namespace

std::string keptFileName(const std::string& serial) {
    return serial + std::string(kSuffix);
}

std::int32_t countLocations(const std::string& text) {
    std::int32_t count = 0;
    forEachLine(text, [&](std::string_view line) { count += line.empty() ? 0 : 1; });
    return count;
}

std::string mergeLocations(const std::string& kept, const std::string& received) {
    std::set<std::string_view> known;
    forEachLine(kept, [&](std::string_view line) { known.insert(line); });
    std::string added;
    forEachLine(received, [&](std::string_view line) {
        if (!line.empty() && known.insert(line).second) {
            added.append(line).append(kCrLf);
        }
    });
    if (added.empty()) {
        return kept;
    }
    std::string merged = kept;
    if (!merged.empty() && !merged.ends_with(kCrLf)) {
        merged += kCrLf;
    }
    return merged + added;
}

void keepLocations(const std::string& path, const std::string& received) {
    if (!fileExists(path)) {
        replaceFileAtomically(path, received + kCrLf, false);
        return;
    }
    const std::string kept = readWholeFile(path);
    const std::string merged = mergeLocations(kept, received);
    if (merged != kept) {
        // The file's time says since when locations wait, not when the last ones came.
        replaceFileAtomically(path, merged, true);
    }
}

KeptSending sendKeptFile(const std::string& path, const std::function<std::string()>& send) {
    KeptSending result;
    try {
        result.count = countLocations(readWholeFile(path));
        result.why = send();
        if (result.why.empty()) {
            deleteFile(path);
        }
    } catch (const std::exception& e) {
        result.why = asRuntimeError(e).description();
    }
    return result;
}

std::string keptCountText(std::int32_t count) {
    return std::to_string(count) + (count == 1 ? " kept location" : " kept locations");
}

std::string keptLocationsNote(const std::vector<KeptLocations>& kept) {
    std::string note;
    for (const KeptLocations& k : kept) {
        std::tm local{};
        localtime_r(&k.since, &local);
        char since[32];
        std::strftime(since, sizeof since, "%Y-%m-%d %H:%M", &local);
        const bool one = k.count == 1;
        note += kCrLf + keptCountText(k.count) + " of " + k.serial + ", waiting since " + since +
                ", " + (one ? "goes" : "go") + " to the server with that unit's next update.";
    }
    return note;
}

std::vector<KeptLocations> findKeptLocations(const std::string& folder) {
    std::vector<KeptLocations> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(kSuffix) || !entry.is_regular_file(ec)) {
            continue;
        }
        const std::string serial = name.substr(0, name.size() - kSuffix.size());
        // Serial numbers are upper-cased when they arrive; other .txt files are not ours.
        if (!isValidSerialNumber(serial) || std::any_of(serial.begin(), serial.end(), [](char c) {
                return c >= 'a' && c <= 'z';
            })) {
            continue;
        }
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) != 0) {
            continue;
        }
        try {
            found.push_back(
                KeptLocations{serial, countLocations(readWholeFile(entry.path())), st.st_mtime});
        } catch (const std::exception&) {
            // A file that cannot be read is left for the run that needs it to report.
        }
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.serial < b.serial; });
    return found;
}

}  // namespace k9
