// The history over real SQLite files: what a run leaves, what is kept, what a damaged, held or
// killed history does.
#include <signal.h>

#include <QProcess>
#include <fstream>

#include "file_bytes.h"
#include "history/history_recorder.h"
#include "history/last_update_line.h"
#include "history_test_support.h"
#include "platform/virtual_event_loop.h"

namespace k9 {
namespace {

using namespace test;

constexpr std::time_t kDay = 86400;
constexpr std::time_t kNov2 = 1793620800;  // 2 November 2026, 12:00 UTC

// Each way a run ends leaves one record with all it knew; a run without a serial number
// leaves none. Read back newest first, as one table.
TEST_F(HistoryTest, RunsReadBackAsOneTable) {
    RunRecord stopped = unitRun("K9B0002", RunEnd::Stopped, kNov2 + 3 * kDay);
    stopped.lineCount = 120;
    stopped.linesSent = 37;
    stopped.reason = "Close clicked";
    RunRecord kept = unitRun("K9A0001", RunEnd::Updated, kNov2 + 4 * kDay, kNov2 - kDay);
    kept.locations = LocationsFate::Kept;
    kept.locationsPath = "/home/driver/.local/state/k9updater/COM1/K9A0001.txt";
    kept.edition = 1;
    kept.remoteFile = "LocationsFull.txt";
    const std::vector<RunRecord> runs{
        unitRun("K9A0001", RunEnd::Updated, kNov2, kNov2 - 2 * kDay),
        unitRun("K9A0001", RunEnd::ServerFailed, kNov2 + kDay),
        unitRun("", RunEnd::NoAnswer, kNov2 + 2 * kDay),
        stopped,
        kept,
        unitRun("K9A0001", RunEnd::NoAnswer, kNov2 + 5 * kDay),
    };
    HistoryStore store(path_, noter());
    VirtualEventLoop loop;
    HistoryRecorder recorder(store, "1.2.3", noter(), loop);
    for (const RunRecord& run : runs) {
        recorder.runEnded(run);
    }

    const std::vector<HistoryEntry> back = store.runs();
    ASSERT_EQ(back.size(), 5u);
    std::vector<const RunRecord*> expected{&runs[5], &runs[4], &runs[3], &runs[1], &runs[0]};
    for (std::size_t i = 0; i < back.size(); ++i) {
        const RunRecord& r = back[i].run;
        const RunRecord& e = *expected[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(std::tie(r.serialNumber, r.end, r.locations, r.locationsPath, r.edition,
                           r.remoteFile, r.started, r.ended, r.serverFileSize, r.serverFileTime,
                           r.lineCount, r.linesSent, r.reason),
                  std::tie(e.serialNumber, e.end, e.locations, e.locationsPath, e.edition,
                           e.remoteFile, e.started, e.ended, e.serverFileSize, e.serverFileTime,
                           e.lineCount, e.linesSent, e.reason));
        EXPECT_EQ(back[i].version, "1.2.3");
    }
    EXPECT_EQ(store.lastUpdate("K9A0001")->run.ended, kept.ended);
    EXPECT_EQ(store.lastUpdate("K9A0001", "LocationsLite.txt")->run.ended, runs[0].ended);
    EXPECT_FALSE(store.lastUpdate("K9B0002"));
    EXPECT_EQ(store.units(), (std::vector<std::string>{"K9A0001", "K9B0002"}));
    EXPECT_EQ(tableText(historyTable({back[0], back[1]})),
              "When              Unit     Edition            Outcome    Lines sent  Locations\n" +
                  shortDateTime(runs[5].started) +
                  "  K9A0001  Cameras            no answer  0 of 120    not offered\n" +
                  shortDateTime(kept.started) +
                  "  K9A0001  Cameras & Schools  updated    120 of 120  kept in " +
                  kept.locationsPath + "\n");
    EXPECT_EQ(historyTraceLines(store, "K9B0002"),
              std::vector<std::string>{"history: " + shortDateTime(stopped.started) +
                                       " Cameras: stopped, 37 of 120 lines, locations not "
                                       "offered, Close clicked (1.2.3)"});

    // The serial number is a credential: the file and its folder are the user's alone.
    EXPECT_EQ(modeOf(path_), 0600u);
    EXPECT_EQ(modeOf(dir_ + "/state/k9updater"), 0700u);
    OtherConnection other(path_);
    EXPECT_EQ(other.run("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(other.run("PRAGMA user_version"), std::to_string(kHistorySchemaVersion));
    EXPECT_TRUE(notes_.empty()) << notes_.front();
}

// The window's line: the last update of the unit, else what the history knows.
TEST_F(HistoryTest, LastUpdateLineForEachUnit) {
    HistoryStore store(path_, noter());
    for (const RunRecord& run : {unitRun("K9A0001", RunEnd::Updated, kNov2),
                                 unitRun("K9A0001", RunEnd::Failed, kNov2 + 30 * kDay),
                                 unitRun("K9B0002", RunEnd::NoAnswer, kNov2 + 33 * kDay)}) {
        store.add(*historyEntryFor(run, "1.0.0"));
    }
    const std::time_t now = kNov2 + 36 * kDay;
    EXPECT_EQ(lastUpdateText(store, "K9A0001", now),
              "Last updated 2 November 2026 (Cameras), 36 days ago.");
    EXPECT_EQ(lastUpdateText(store, "K9B0002", now),
              "Not updated on this computer yet; last tried 3 days ago (no answer).");
    EXPECT_EQ(lastUpdateText(store, "K9C0003", now),
              "No earlier update of this unit on this computer.");
    EXPECT_EQ(daysAgo(kNov2, kNov2 + kDay), "yesterday");
}

// The newest 1,000 records of a unit stay, whatever the others hold; --forget takes a unit's.
TEST_F(HistoryTest, KeepsTheNewestThousandPerUnitAndForgets) {
    HistoryStore store(path_, noter());
    store.add(*historyEntryFor(unitRun("K9B0002", RunEnd::Updated, kNov2), "1.0.0"));
    {
        OtherConnection other(path_);
        other.run("BEGIN");
        for (int i = 0; i < kHistoryKeptPerUnit + 3; ++i) {
            other.run(
                "INSERT INTO runs (serial, started, ended, edition, remote_file, "
                "server_file_size, server_file_time, line_count, lines_sent, outcome, locations, "
                "locations_path, reason, version) VALUES ('K9A0001', 1, 2, 0, "
                "'LocationsLite.txt', 10, 0, 1, 1, 'updated', 'uploaded', '', '', 'old')");
        }
        other.run("COMMIT");
    }
    store.add(*historyEntryFor(unitRun("K9A0001", RunEnd::Failed, kNov2), "1.0.0"));
    const auto kept = store.runs("K9A0001");
    ASSERT_EQ(kept.size(), static_cast<std::size_t>(kHistoryKeptPerUnit));
    EXPECT_EQ(kept.front().run.end, RunEnd::Failed);
    // The first rows written (ids 2 to 5) are the ones gone.
    EXPECT_EQ(kept.back().id, 6);
    EXPECT_EQ(store.forget("K9A0001"), kHistoryKeptPerUnit);
    EXPECT_TRUE(store.runs("K9A0001").empty());
    EXPECT_EQ(store.runs().size(), 1u);
}

// A history whose folder cannot be made says so once and never stands in a run's way.
TEST_F(HistoryTest, AFolderThatCannotBeMadeIsNotedOnce) {
    writeBytes(dir_ + "/blocker", "a file where the folder should be");
    HistoryStore store(dir_ + "/blocker/k9updater/history.db", noter());
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(store.add(*historyEntryFor(unitRun("K9A0001", RunEnd::Updated, kNov2), "1.0")),
                  HistoryStore::Write::Failed);
    }
    EXPECT_TRUE(store.runs().empty());
    ASSERT_EQ(notes_.size(), 1u);
    EXPECT_NE(notes_[0].find("runs are not recorded"), std::string::npos) << notes_[0];
}

// A history that cannot be used as it is gets out of the way with one line, and the run's
// record goes into a fresh one; one from a later version is read but not written.
TEST_F(HistoryTest, BadHistoriesMoveAsideOrStayUntouched) {
    struct Row {
        const char* name;
        std::function<void(const std::string& path)> spoil;
        const char* note;  // a piece of the one line noted
        bool movedAside;
    };
    const auto records = [](const std::string& path) {
        HistoryStore store(path, [](const std::string&) {});
        for (int i = 0; i < 200; ++i) {
            store.add(*historyEntryFor(unitRun("K9A0001", RunEnd::Updated, kNov2 + i), "1.0.0"));
        }
    };
    const Row rows[] = {
        {"not a database", [](const std::string& p) { writeBytes(p, std::string(5000, 'x')); },
         "was damaged (file is not a database", true},
        {"pages overwritten",
         [&](const std::string& p) {
             records(p);
             std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(4096);
             f << std::string(16384, '\x5a');
         },
         "was damaged (database disk image is malformed", true},
        {"a folder in its place",
         [](const std::string& p) { std::filesystem::create_directories(p); },
         "was damaged (it is not a file)", true},
        {"a later schema",
         [&](const std::string& p) {
             records(p);
             OtherConnection(p).run("PRAGMA user_version = 99");
         },
         "comes from a later version of the program", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(dir_ + "/state");
        notes_.clear();
        std::filesystem::create_directories(dir_ + "/state/k9updater");
        row.spoil(path_);
        HistoryStore store(path_, noter());
        const auto written =
            store.add(*historyEntryFor(unitRun("K9C0003", RunEnd::Updated, kNov2), "1.0.0"));
        ASSERT_EQ(notes_.size(), 1u);
        EXPECT_NE(notes_[0].find(row.note), std::string::npos) << notes_[0];
        EXPECT_EQ(modeOf(dir_ + "/state/k9updater"), 0700u);  // made 0755 above
        const std::string aside = path_ + ".damaged-";
        bool found = false;
        for (const auto& file : std::filesystem::directory_iterator(dir_ + "/state/k9updater")) {
            found = found || file.path().string().rfind(aside, 0) == 0;
        }
        EXPECT_EQ(found, row.movedAside);
        if (row.movedAside) {
            EXPECT_EQ(written, HistoryStore::Write::Done);
            EXPECT_EQ(store.runs().size(), 1u);
            EXPECT_NE(notes_[0].find(", a fresh one is started."), std::string::npos);
        } else {
            EXPECT_EQ(written, HistoryStore::Write::Failed);
            EXPECT_EQ(store.runs().size(), 200u);
        }
    }
}

// Another program holding the history: the record waits up to a second, on the loop, then is
// skipped with one line.
TEST_F(HistoryTest, AHeldHistoryIsWaitedForAtMostASecond) {
    struct Row {
        std::int64_t releaseMs;  // -1: never while the record waits
        bool flush;              // as a program that ends after its run, else by the loop's timer
        std::size_t written;
        std::size_t notes;
    };
    for (const Row row : {Row{500, false, 1, 0}, Row{-1, true, 0, 1}}) {
        SCOPED_TRACE(row.releaseMs);
        std::filesystem::remove_all(dir_ + "/state");
        notes_.clear();
        HistoryStore store(path_, noter());
        store.runs();  // creates the file
        VirtualEventLoop loop;
        HistoryRecorder recorder(store, "1.0.0", noter(), loop);
        auto other = std::make_unique<OtherConnection>(path_);
        other->run("BEGIN IMMEDIATE");
        recorder.runEnded(unitRun("K9A0001", RunEnd::Updated, kNov2));
        EXPECT_EQ(recorder.waiting(), 1u);
        if (row.releaseMs >= 0) {
            loop.scheduleAfter(row.releaseMs, [&] { other.reset(); });
        }
        if (row.flush) {
            recorder.flush();
        } else {
            loop.advance(kHistoryLockWaitMs + kHistoryRetryMs);
        }
        other.reset();
        EXPECT_EQ(recorder.waiting(), 0u);
        EXPECT_EQ(store.runs().size(), row.written);
        EXPECT_EQ(notes_.size(), row.notes);
    }
    EXPECT_NE(notes_.front().find("is held by another program; the run of"), std::string::npos);
}

// A writer killed with SIGKILL in the middle of its writes leaves a history that opens with
// every record it had reported written.
TEST_F(HistoryTest, SurvivesAWriterKilledMidWrite) {
    QProcess writer;
    writer.start(HISTORY_WRITER_PATH, {QString::fromStdString(path_)});
    ASSERT_TRUE(writer.waitForStarted(10000));
    int reported = 0;
    QByteArray out;
    while (reported < 40 && writer.waitForReadyRead(10000)) {
        out += writer.readAllStandardOutput();
        reported = out.count('\n');
    }
    ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
    writer.waitForFinished(10000);
    ASSERT_GE(reported, 40);

    HistoryStore store(path_, noter());
    const auto runs = store.runs("K9KILL1");
    ASSERT_GE(runs.size(), static_cast<std::size_t>(reported));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[runs.size() - 1 - i].run.linesSent, static_cast<std::int32_t>(i + 1));
    }
    EXPECT_EQ(OtherConnection(path_).run("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(store.add(*historyEntryFor(unitRun("K9A0001", RunEnd::Updated, kNov2), "1.0.0")),
              HistoryStore::Write::Done);
    EXPECT_TRUE(notes_.empty()) << notes_.front();
}

}  // namespace
}  // namespace k9
