#include "history/history_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "config/program_vars.h"

namespace k9 {
namespace {

// SQLite's primary result codes.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;

const char* const kColumns =
    "id, serial, started, ended, edition, remote_file, server_file_size, server_file_time, "
    "line_count, lines_sent, outcome, locations, locations_path, reason, version";

// Version 1. A later version adds its steps after these and raises user_version.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, serial TEXT NOT NULL, "
    "started INTEGER NOT NULL, ended INTEGER NOT NULL, edition INTEGER NOT NULL, "
    "remote_file TEXT NOT NULL, server_file_size INTEGER NOT NULL, "
    "server_file_time INTEGER NOT NULL, line_count INTEGER NOT NULL, "
    "lines_sent INTEGER NOT NULL, outcome TEXT NOT NULL, locations TEXT NOT NULL, "
    "locations_path TEXT NOT NULL, reason TEXT NOT NULL, version TEXT NOT NULL)",
    // Within one unit the index runs in rowid order, newest last.
    "CREATE INDEX IF NOT EXISTS runs_by_unit ON runs (serial)",
    "PRAGMA user_version = 1",
};

int nativeCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

std::string baseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// Today's local date, "2026-12-07".
std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char date[48];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    return date;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

HistoryEntry entryOf(const QSqlQuery& q) {
    HistoryEntry e;
    RunRecord& r = e.run;
    e.id = q.value(0).toLongLong();
    r.serialNumber = q.value(1).toString().toStdString();
    r.started = static_cast<std::time_t>(q.value(2).toLongLong());
    r.ended = static_cast<std::time_t>(q.value(3).toLongLong());
    r.edition = q.value(4).toInt();
    r.remoteFile = q.value(5).toString().toStdString();
    r.serverFileSize = q.value(6).toLongLong();
    r.serverFileTime = static_cast<std::time_t>(q.value(7).toLongLong());
    r.lineCount = q.value(8).toInt();
    r.linesSent = q.value(9).toInt();
    r.end = runEndFromWord(q.value(10).toString().toStdString()).value_or(RunEnd::None);
    r.locations =
        locationsFromWord(q.value(11).toString().toStdString()).value_or(LocationsFate::NotOffered);
    r.locationsPath = q.value(12).toString().toStdString();
    r.reason = q.value(13).toString().toStdString();
    e.version = q.value(14).toString().toStdString();
    return e;
}

QVariantList valuesOf(const HistoryEntry& e) {
    const RunRecord& r = e.run;
    return {text(r.serialNumber),
            static_cast<qlonglong>(r.started),
            static_cast<qlonglong>(r.ended),
            r.edition,
            text(r.remoteFile),
            static_cast<qlonglong>(r.serverFileSize),
            static_cast<qlonglong>(r.serverFileTime),
            r.lineCount,
            r.linesSent,
            text(std::string(runEndWord(r.end))),
            text(std::string(locationsWord(r.locations))),
            text(r.locationsPath),
            text(r.reason),
            text(e.version)};
}

}  // namespace

std::string defaultHistoryPath() {
    return workingFolder(std::string(), std::string()) + kHistoryFileName;
}

// One connection of Qt SQL, under a name of its own.
struct HistoryStore::Db {
    explicit Db(const QString& connection) : name(connection) {}
    ~Db() {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }

    // Runs sql with the values bound in order; the error is left in `error`.
    bool run(QSqlQuery& q, const char* sql, const QVariantList& values = {}) {
        bool ok = q.prepare(QString::fromLatin1(sql));
        for (const QVariant& value : values) {
            q.addBindValue(value);
        }
        ok = ok && q.exec();
        if (!ok) {
            error = q.lastError();
        }
        return ok;
    }
    bool run(const char* sql) {
        QSqlQuery q(db);
        return run(q, sql);
    }
    // Hands each row of a query to `row`. The query is gone when this returns, so that a
    // failure may close the connection.
    template <typename Row>
    bool select(const std::string& sql, const QVariantList& values, Row row) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!run(q, sql.c_str(), values)) {
            return false;
        }
        while (q.next()) {
            row(q);
        }
        return true;
    }

    QString name;
    QSqlDatabase db;
    QSqlError error;
};

HistoryStore::HistoryStore(std::string path, Note note, int busyWaitMs)
    : path_(std::move(path)), note_(std::move(note)), busyWaitMs_(busyWaitMs) {}

HistoryStore::~HistoryStore() = default;

void HistoryStore::close() {
    db_.reset();
}

bool HistoryStore::ready() {
    if (unusable_) {
        return false;
    }
    if (db_) {
        return true;
    }
    if (openFile()) {
        return true;
    }
    close();
    return false;
}

bool HistoryStore::openFile() {
    // The folder and the file are the user's alone, whatever the umask says.
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    std::error_code ec;
    struct stat st {};
    if (!folder.empty() && ::stat(folder.c_str(), &st) != 0) {
        std::filesystem::create_directories(folder, ec);
        if (ec || ::chmod(folder.c_str(), 0700) != 0) {
            note_("history: cannot create " + folder + " (" +
                  (ec ? ec.message() : std::strerror(errno)) + "); runs are not recorded.");
            unusable_ = true;
            return false;
        }
    } else if (!folder.empty() && (st.st_mode & 077) != 0 && st.st_uid == ::getuid() &&
               ::chmod(folder.c_str(), 0700) != 0) {
        // Made by an older version or another tool; the file itself stays private anyway.
        note_("history: cannot make " + folder + " private (" + std::strerror(errno) + ").");
    }
    if (::lstat(path_.c_str(), &st) == 0 &&
        (!S_ISREG(st.st_mode) || ::access(path_.c_str(), R_OK | W_OK) != 0)) {
        return moveAside(S_ISREG(st.st_mode) ? "it cannot be read" : "it is not a file") &&
               openFile();
    }
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        note_("history: cannot open " + path_ + " (" + std::strerror(errno) +
              "); runs are not recorded.");
        if (fd >= 0) {
            ::close(fd);  // only opened, and failing already
        }
        unusable_ = true;
        return false;
    }
    ::close(fd);  // nothing was written through it: SQLite opens the file anew

    static int connections = 0;
    db_ = std::make_unique<Db>(QStringLiteral("k9history-%1").arg(++connections));
    db_->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), db_->name);
    if (!db_->db.isValid()) {
        note_(
            "history: Qt's SQLite driver is missing (libqt6sql6-sqlite); runs are not "
            "recorded.");
        unusable_ = true;
        return false;
    }
    db_->db.setDatabaseName(text(path_));
    db_->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyWaitMs_));
    if (!db_->db.open()) {
        const QSqlError error = db_->db.lastError();
        return failed("opening", error.databaseText().toStdString(), nativeCode(error)) ==
                   Failure::Damaged &&
               openFile();
    }
    return prepareSchema();
}

bool HistoryStore::prepareSchema() {
    int version = -1;
    if (!db_->run("PRAGMA journal_mode = WAL") ||
        !db_->select("PRAGMA user_version", {},
                     [&](const QSqlQuery& q) { version = q.value(0).toInt(); }) ||
        version < 0) {
        const QSqlError error = db_->error;
        const Failure f = failed("opening", error.databaseText().toStdString(), nativeCode(error));
        return f == Failure::Damaged && openFile();
    }
    if (version > kHistorySchemaVersion) {
        if (!readOnly_) {
            note_("history: " + path_ + " comes from a later version of the program; it is read, " +
                  "not written.");
        }
        readOnly_ = true;
        return true;
    }
    if (version == kHistorySchemaVersion) {
        return true;
    }
    bool ok = db_->run("BEGIN IMMEDIATE");
    for (const char* step : kSchema) {
        ok = ok && db_->run(step);
    }
    ok = ok && db_->run("COMMIT");
    if (!ok) {
        const QSqlError error = db_->error;
        db_->run("ROLLBACK");  // may fail when BEGIN did: nothing to undo then
        const Failure f =
            failed("preparing", error.databaseText().toStdString(), nativeCode(error));
        return f == Failure::Damaged && openFile();
    }
    return true;
}

bool HistoryStore::moveAside(const std::string& why) {
    close();
    if (movedAside_) {
        // Damaged again straight away: something else is wrong; stop trying.
        note_("history: " + path_ + " is damaged again (" + why + "); runs are not recorded.");
        unusable_ = true;
        return false;
    }
    movedAside_ = true;
    std::string aside = path_ + ".damaged-" + today();
    for (int n = 2; exists(aside); ++n) {
        aside = path_ + ".damaged-" + today() + "-" + std::to_string(n);
    }
    if (::rename(path_.c_str(), aside.c_str()) != 0) {
        note_("history: " + path_ + " is damaged (" + why + ") and cannot be moved aside (" +
              std::strerror(errno) + "); runs are not recorded.");
        unusable_ = true;
        return false;
    }
    // The log belongs to the damaged file; it must not be replayed into the fresh one.
    const int walMoved = ::rename((path_ + "-wal").c_str(), (aside + "-wal").c_str());
    const int shmGone = ::unlink((path_ + "-shm").c_str());
    (void)walMoved;  // absent when the damaged file had none
    (void)shmGone;
    note_("history: " + baseName(path_) + " was damaged (" + why + "); moved aside as " +
          baseName(aside) + ", a fresh one is started.");
    return true;
}

HistoryStore::Failure HistoryStore::failed(const std::string& what, const std::string& error,
                                           int code) {
    if (code == kSqliteBusy || code == kSqliteLocked) {
        return Failure::Busy;
    }
    if (code == kSqliteCorrupt || code == kSqliteNotADatabase) {
        return moveAside(error) ? Failure::Damaged : Failure::Other;
    }
    note_("history: " + what + " " + path_ + " failed (" + error + ").");
    return Failure::Other;
}

HistoryStore::Write HistoryStore::add(const HistoryEntry& entry) {
    // A second attempt only after a damaged file was moved aside: the record goes into the
    // fresh one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!ready()) {
            return unusable_ ? Write::Failed : Write::Busy;
        }
        if (readOnly_) {
            return Write::Failed;
        }
        const QVariantList trim{text(entry.run.serialNumber), text(entry.run.serialNumber),
                                kHistoryKeptPerUnit};
        bool ok = false;
        {
            QSqlQuery q(db_->db);
            // IMMEDIATE: a lock held elsewhere shows at once, before anything was written.
            ok = db_->run("BEGIN IMMEDIATE") &&
                 db_->run(q,
                          "INSERT INTO runs (serial, started, ended, edition, remote_file, "
                          "server_file_size, server_file_time, line_count, lines_sent, outcome, "
                          "locations, locations_path, reason, version) "
                          "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                          valuesOf(entry)) &&
                 db_->run(q,
                          "DELETE FROM runs WHERE serial = ? AND id <= (SELECT id FROM runs "
                          "WHERE serial = ? ORDER BY id DESC LIMIT 1 OFFSET ?)",
                          trim) &&
                 db_->run("COMMIT");
        }
        if (ok) {
            return Write::Done;
        }
        const QSqlError error = db_->error;
        db_->run("ROLLBACK");  // fails when nothing began: nothing to undo then
        switch (failed("writing to", error.databaseText().toStdString(), nativeCode(error))) {
            case Failure::Busy:
                return Write::Busy;
            case Failure::Damaged:
                continue;
            case Failure::None:
            case Failure::Other:
                return Write::Failed;
        }
    }
    return Write::Failed;
}

void HistoryStore::readFailed() {
    const QSqlError error = db_->error;
    failed("reading", error.databaseText().toStdString(), nativeCode(error));
}

std::vector<HistoryEntry> HistoryStore::runs(const std::string& serial, int limit) {
    std::vector<HistoryEntry> entries;
    if (!ready()) {
        return entries;
    }
    QVariantList values;
    if (!serial.empty()) {
        values.push_back(text(serial));
    }
    values.push_back(limit > 0 ? limit : -1);
    if (!db_->select(std::string("SELECT ") + kColumns + " FROM runs" +
                         (serial.empty() ? "" : " WHERE serial = ?") + " ORDER BY id DESC LIMIT ?",
                     values, [&](const QSqlQuery& q) { entries.push_back(entryOf(q)); })) {
        readFailed();
        entries.clear();
    }
    return entries;
}

std::optional<HistoryEntry> HistoryStore::lastUpdate(const std::string& serial,
                                                     const std::string& remoteFile) {
    std::optional<HistoryEntry> last;
    if (!ready()) {
        return last;
    }
    QVariantList values{text(serial)};
    if (!remoteFile.empty()) {
        values.push_back(text(remoteFile));
    }
    if (!db_->select(std::string("SELECT ") + kColumns +
                         " FROM runs WHERE serial = ? AND outcome = 'updated'" +
                         (remoteFile.empty() ? "" : " AND remote_file = ?") +
                         " ORDER BY id DESC LIMIT 1",
                     values, [&](const QSqlQuery& q) { last = entryOf(q); })) {
        readFailed();
        last.reset();
    }
    return last;
}

std::vector<std::string> HistoryStore::units() {
    std::vector<std::string> serials;
    if (!ready()) {
        return serials;
    }
    if (!db_->select(
            "SELECT serial FROM runs GROUP BY serial ORDER BY MAX(id) DESC", {},
            [&](const QSqlQuery& q) { serials.push_back(q.value(0).toString().toStdString()); })) {
        readFailed();
        serials.clear();
    }
    return serials;
}

int HistoryStore::forget(const std::string& serial) {
    if (!ready() || readOnly_) {
        return -1;
    }
    int deleted = -1;
    {
        QSqlQuery q(db_->db);
        if (db_->run(q, "DELETE FROM runs WHERE serial = ?", {text(serial)})) {
            deleted = q.numRowsAffected();
        }
    }
    if (deleted < 0) {
        const QSqlError error = db_->error;
        if (failed("deleting from", error.databaseText().toStdString(), nativeCode(error)) ==
            Failure::Busy) {
            note_("history: " + path_ + " is in use by another program; nothing was deleted.");
        }
    }
    return deleted;
}

}  // namespace k9
