#include "cli/send_kept.h"

#include <map>
#include <memory>
#include <vector>

#include "cli/cli_options.h"
#include "devices/port_lock.h"
#include "platform/file_table.h"
#include "platform/qt_event_loop.h"
#include "platform/runtime_error.h"
#include "transfer/cftp.h"
#include "transfer/ftp_settings.h"
#include "transfer/server_operations.h"
#include "update/device_link.h"
#include "update/kept_locations.h"
#include "update/update_sequence.h"

namespace k9 {
namespace {

constexpr int kPorts = 12;

// Why the file did not reach the server whole; empty when it did.
std::string send(EventLoop& loop, const AppConfig& config, const std::string& serial,
                 const std::string& path) {
    cFTP ftp(loop, ftpSettingsFor(config));
    if (!ftp.OpenConnection(config.ftpHost, serial, ftpPasswordFor(serial))) {
        return "the server could not be reached";
    }
    std::string why = storeWhole(ftp, path, keptFileName(serial));
    ftp.CloseConnection();
    return why;
}

}  // namespace

int sendKeptLocations(const AppConfig& config, const std::string& base, std::ostream& out) {
    std::vector<std::string> folders{base};
    std::vector<std::unique_ptr<PortLock>> locks;
    for (int port = 1; port <= kPorts; ++port) {
        const std::string name = "COM" + std::to_string(port);
        if (!folderExists(base + name)) {
            continue;
        }
        auto lock = std::make_unique<PortLock>(base + name + ".lock");
        if (!lock->held()) {
            out << name << ": being updated; its kept locations wait for the next --send-kept.\n";
            continue;
        }
        folders.push_back(base + name + "/");
        locks.push_back(std::move(lock));
    }
    // A unit updated through several folders has one file on the server: one upload of all.
    std::map<std::string, std::vector<std::string>> files;
    for (const std::string& folder : folders) {
        for (const KeptLocations& kept : findKeptLocations(folder)) {
            files[kept.serial].push_back(folder + keptFileName(kept.serial));
        }
    }
    if (files.empty()) {
        out << "No kept locations.\n";
        return exitcode::kUpdated;
    }
    QtEventLoop loop;
    bool allSent = true;
    for (const auto& [serial, paths] : files) {
        const std::string& path = paths.front();
        std::string mergeFailure;
        try {
            for (std::size_t i = 1; i < paths.size(); ++i) {
                keepLocations(path, readWholeFile(paths[i]));
                deleteFile(paths[i]);
            }
        } catch (const std::exception& e) {
            mergeFailure = asRuntimeError(e).description();
        }
        const auto [count, why] =
            mergeFailure.empty()
                ? sendKeptFile(path,
                               [&, &serial = serial] { return send(loop, config, serial, path); })
                : KeptSending{0, mergeFailure};
        const std::string counted = keptCountText(count);
        if (why.empty()) {
            out << serial << ": " << counted << " sent to the server.\n";
        } else {
            allSent = false;
            out << serial << ": " << counted << " not sent (" << why << "); still kept in " << path
                << ".\n";
        }
    }
    return allSent ? exitcode::kUpdated : exitcode::kLocationsKept;
}

}  // namespace k9
