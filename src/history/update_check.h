#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "history/history_entry.h"

namespace k9 {

class cFTP;
class HistoryStore;

// What the server says of a unit's edition file, next to the unit's last update.
struct UnitCheck {
    enum class Verdict { UpToDate, UpdateWaits, NotAsked };

    std::string serial;
    std::string remoteFile;
    Verdict verdict = Verdict::NotAsked;
    std::int64_t serverFileSize = -1;
    std::time_t serverFileTime = 0;  // 0: the server gave none (no MDTM)
    std::optional<HistoryEntry> lastUpdate;
    std::string why;  // NotAsked: what went wrong, in a few words
};

// The file a check looks at for a unit: the edition asked for (a file list index, -1 for none),
// else that of the unit's last update, else that of its last run, else the cameras file.
std::string fileToCheck(HistoryStore& store, const std::string& serial, int edition);

// Logs in as the run would (the serial number and the password built from it), asks the
// file's size and modification time, and compares them with the unit's last update of that
// file. A newer time, or without MDTM another size, means a newer file waits. Yields to the
// loop like every call of the client; closing the client meanwhile, or `stopped` turning true,
// ends the check as NotAsked.
UnitCheck checkUnit(cFTP& ftp, const std::string& server, const std::string& serial,
                    const std::string& remoteFile, std::optional<HistoryEntry> lastUpdate,
                    const std::function<bool()>& stopped = {});

// One line for people: "K9A1234: up to date (Cameras, updated 2 November 2026, 36 days ago)."
std::string checkLine(const UnitCheck& check, std::time_t now);

}  // namespace k9
