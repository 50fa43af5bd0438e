#include "history/update_check.h"

#include "history/history_store.h"
#include "transfer/cftp.h"
#include "update/device_link.h"

namespace k9 {
namespace {

constexpr int kCamerasEdition = 0;

// The first line of a failure text, without its line end.
std::string firstLine(const std::string& text) {
    const std::string line = text.substr(0, text.find_first_of("\r\n"));
    return line.empty() ? "no reason given" : line;
}

bool newer(const UnitCheck& c) {
    const RunRecord& last = c.lastUpdate->run;
    if (c.serverFileTime == 0) {
        return last.serverFileSize < 0 || c.serverFileSize != last.serverFileSize;
    }
    if (last.serverFileTime != 0) {
        return c.serverFileTime > last.serverFileTime ||
               (c.serverFileTime == last.serverFileTime && c.serverFileSize != last.serverFileSize);
    }
    // A run that learnt no time: changed since that run began, or another size.
    return c.serverFileTime > last.started ||
           (last.serverFileSize >= 0 && c.serverFileSize != last.serverFileSize);
}

}  // namespace

std::string fileToCheck(HistoryStore& store, const std::string& serial, int edition) {
    if (const std::string file = editionFile(edition); !file.empty()) {
        return file;
    }
    if (const auto last = store.lastUpdate(serial); last && !last->run.remoteFile.empty()) {
        return last->run.remoteFile;
    }
    if (const auto runs = store.runs(serial, 1); !runs.empty() && !runs[0].run.remoteFile.empty()) {
        return runs[0].run.remoteFile;
    }
    return editionFile(kCamerasEdition);
}

UnitCheck checkUnit(cFTP& ftp, const std::string& server, const std::string& serial,
                    const std::string& remoteFile, std::optional<HistoryEntry> lastUpdate,
                    const std::function<bool()>& stopped) {
    UnitCheck c{serial, remoteFile, UnitCheck::Verdict::NotAsked, -1, 0, std::move(lastUpdate), {}};
    const auto ended = [&] { return stopped && stopped(); };
    if (!ftp.OpenConnection(server, serial, ftpPasswordFor(serial)) || ended()) {
        c.why = ended() ? "stopped" : "login: " + firstLine(ftp.GetLastErrorMessage());
        ftp.CloseConnection();
        return c;
    }
    const std::int32_t size = ftp.GetFTPFileSize(remoteFile);
    const std::int64_t time = size >= 0 && !ended() ? ftp.remoteFileTime(remoteFile) : 0;
    const std::string failure = firstLine(ftp.GetLastErrorMessage());
    ftp.CloseConnection();
    if (ended()) {
        c.why = "stopped";
        return c;
    }
    if (size == -1) {
        c.why = remoteFile + " is not on the server";
        return c;
    }
    if (size < 0 || time < 0) {
        c.why = failure;
        return c;
    }
    c.serverFileSize = size;
    c.serverFileTime = static_cast<std::time_t>(time);
    c.verdict =
        !c.lastUpdate || newer(c) ? UnitCheck::Verdict::UpdateWaits : UnitCheck::Verdict::UpToDate;
    return c;
}

std::string checkLine(const UnitCheck& c, std::time_t now) {
    const std::string title = fileTitle(c.remoteFile);
    const std::string bySize = c.serverFileTime == 0
                                   ? "; the server gives no modification time, so the size alone "
                                     "decided"
                                   : "";
    const std::string serverFile = c.serverFileTime == 0 ? "" : " of " + longDate(c.serverFileTime);
    switch (c.verdict) {
        case UnitCheck::Verdict::NotAsked:
            return c.serial + ": the server could not be asked (" + c.why + ").";
        case UnitCheck::Verdict::UpToDate:
            return c.serial + ": up to date (" + title + ", updated " +
                   longDate(c.lastUpdate->run.ended) + ", " +
                   daysAgo(c.lastUpdate->run.ended, now) + bySize + ").";
        case UnitCheck::Verdict::UpdateWaits:
            break;
    }
    if (!c.lastUpdate) {
        return c.serial + ": never updated on this computer; " + title + serverFile +
               " waits on the server.";
    }
    return c.serial + ": a newer " + title + " database" + serverFile +
           " waits on the server (last updated " + longDate(c.lastUpdate->run.ended) + ", " +
           daysAgo(c.lastUpdate->run.ended, now) + bySize + ").";
}

}  // namespace k9
