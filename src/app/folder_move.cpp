#include "app/folder_move.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/file_table.h"
#include "platform/runtime_error.h"
#include "platform/texts.h"
#include "update/device_link.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIniName = "QK.ini";

// A rename, or a copy and delete when the folders lie on different file systems.
bool moveFile(const fs::path& from, const fs::path& to, std::error_code& ec) {
    fs::rename(from, to, ec);
    if (ec == std::errc::cross_device_link) {
        ec.clear();
        if (fs::copy_file(from, to, ec)) {
            fs::remove(from, ec);
        }
    }
    return !ec;
}

bool isKeptLocations(const fs::directory_entry& entry) {
    const fs::path name = entry.path().filename();
    return entry.is_regular_file() && name.extension() == ".txt" &&
           isValidSerialNumber(name.stem().string());
}

std::string shortened(std::string path) {
    const char* home = std::getenv("HOME");
    const std::string prefix = home != nullptr ? std::string(home) + "/" : std::string();
    if (prefix.size() > 1 && path.rfind(prefix, 0) == 0) {
        path = "~/" + path.substr(prefix.size());
    }
    return path;
}

}  // namespace

FolderMove moveOldWorkingFolder(const std::string& from, const std::string& to) {
    FolderMove move{from, to, {}};
    if (!fileExists(from + kIniName) || fileExists(to + kIniName)) {
        return move;
    }
    std::error_code listing;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(from, listing)) {
        const fs::path target = fs::path(to) / entry.path().filename();
        if (isKeptLocations(entry) && !fs::exists(target) && moveFile(entry, target, ec)) {
            move.files.push_back(entry.path().filename().string());
        }
    }
    // QK.ini goes last: a move cut short is taken up again on the next start.
    if (!moveFile(from + kIniName, to + kIniName, ec)) {
        raiseFileError(ec.value(), from + kIniName, "moving");
    }
    move.files.push_back(kIniName);
    return move;
}

std::string folderMoveNote(const FolderMove& move) {
    if (move.files.empty()) {
        return "";
    }
    const std::size_t kept = move.files.size() - 1;
    const std::string what = kept == 0
                                 ? "Settings"
                                 : "Settings and " + std::to_string(kept) +
                                       (kept == 1 ? " kept location file" : " kept location files");
    return kCrLf + what + " moved from " + shortened(move.from) + " to " + shortened(move.to) + ".";
}

}  // namespace k9
