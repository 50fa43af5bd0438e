#include "cli/send_kept.h"

#include <map>
#include <memory>
#include <vector>

#include "assembly/updater_core.h"
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

// Why the file did not reach the server whole; empty when it did.
std::string send(const FtpClientFactory& clients, const AppConfig& config,
                 const std::string& serial, const std::string& path) {
    const std::shared_ptr<cFTP> ftp = clients();
    if (!ftp->OpenConnection(config.ftpHost, serial, ftpPasswordFor(serial))) {
        return unreachableWhy(*ftp);
    }
    std::string why = storeWhole(*ftp, path, keptFileName(serial));
    ftp->CloseConnection();
    return why;
}

}  // namespace

int sendKeptLocations(const AppConfig& config, const std::string& base, std::ostream& out) {
    std::vector<std::string> folders{base};
    std::vector<std::unique_ptr<PortLock>> locks;
    for (int port = kFirstComPort; port <= kLastComPort; ++port) {
        const std::string folder = portFolder(base, port);
        if (!folderExists(folder)) {
            continue;
        }
        auto lock = lockPort(base, port);
        if (!lock->held()) {
            out << "COM" << port
                << ": being updated; its kept locations wait for the next --send-kept.\n";
            continue;
        }
        folders.push_back(folder);
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
    const FtpClientFactory clients = ftpClientFactory(loop, config);
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
                ? sendKeptFile(
                      path, [&, &serial = serial] { return send(clients, config, serial, path); })
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
