#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "history/history_entry.h"

namespace k9 {

// The newest records kept for each unit.
inline constexpr int kHistoryKeptPerUnit = 1000;
inline constexpr int kHistorySchemaVersion = 1;
inline constexpr const char* kHistoryFileName = "history.db";

// $XDG_STATE_HOME/k9updater/history.db, else ~/.local/state/k9updater/history.db.
std::string defaultHistoryPath();

// The runs of every unit, in SQLite: write-ahead log, one transaction per record, the schema
// numbered in PRAGMA user_version. The file is the user's alone (0600, in a 0700 folder): it
// holds serial numbers, which are the units' credentials.
//
// The history never stops anything: every call returns, and whatever goes wrong costs one line
// through `note`. A damaged or unreadable file is moved aside as history.db.damaged-<date> and
// a fresh one is started. Nothing is opened before the first call.
class HistoryStore final {
  public:
    using Note = std::function<void(const std::string&)>;
    enum class Write { Done, Busy, Failed };

    // busyWaitMs: how long a call waits for a lock another process holds; 0 returns Busy at
    // once, so that a caller on the event loop can try again later without blocking.
    HistoryStore(std::string path, Note note, int busyWaitMs = 0);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Writes one record and drops that unit's records beyond the newest kHistoryKeptPerUnit.
    // Busy: another process holds the history; nothing was written and nothing noted.
    Write add(const HistoryEntry& entry);
    // Newest first: one unit's, or every unit's when serial is empty; at most `limit` (0: all).
    std::vector<HistoryEntry> runs(const std::string& serial = {}, int limit = 0);
    // The unit's newest run that updated it, with this server file when one is named.
    std::optional<HistoryEntry> lastUpdate(const std::string& serial,
                                           const std::string& remoteFile = {});
    // Every unit in the history, the most recently run first.
    std::vector<std::string> units();
    // Deletes a unit's records; how many, or -1 when they could not be deleted.
    int forget(const std::string& serial);

    const std::string& path() const { return path_; }

  private:
    struct Db;
    enum class Failure { None, Busy, Damaged, Other };

    // Opens the file once; false when the history cannot be used now.
    bool ready();
    bool openFile();
    bool prepareSchema();
    void close();
    // Moves a damaged or unreadable file aside and starts afresh; false when that failed.
    bool moveAside(const std::string& why);
    // Sorts out a failed statement: notes it, moves a damaged file aside.
    Failure failed(const std::string& what, const std::string& error, int code);
    // A failed read: noted, or the damaged file moved aside.
    void readFailed();

    std::string path_;
    Note note_;
    int busyWaitMs_;
    std::unique_ptr<Db> db_;
    bool unusable_ = false;  // gave up for this run of the program
    bool movedAside_ = false;
    bool readOnly_ = false;  // written by a later version
};

}  // namespace k9
