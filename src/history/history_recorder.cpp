#include "history/history_recorder.h"

#include "history/history_store.h"
#include "platform/event_loop.h"

namespace k9 {

HistoryRecorder::HistoryRecorder(HistoryStore& store, std::string version, Note note,
                                 EventLoop& loop, WallClock now)
    : store_(store),
      version_(std::move(version)),
      note_(std::move(note)),
      loop_(loop),
      now_(std::move(now)),
      retry_(loop.makeTimer([this] { writeWaiting(); })) {
    retry_->setInterval(kHistoryRetryMs);
}

HistoryRecorder::~HistoryRecorder() {
    // A last try for what still waits; the program is ending, so nothing waits any longer.
    while (!waiting_.empty() && store_.add(waiting_.front().entry) != HistoryStore::Write::Busy) {
        waiting_.pop_front();
    }
    if (!waiting_.empty()) {
        note_("history: " + store_.path() + " is held by another program; " +
              std::to_string(waiting_.size()) + " run(s) not recorded.");
    }
}

void HistoryRecorder::runEnded(const RunRecord& record) {
    std::optional<HistoryEntry> entry = historyEntryFor(record, version_);
    if (!entry) {
        return;
    }
    if (entry->run.ended == 0) {
        entry->run.ended = now_();
    }
    if (entry->run.started == 0) {
        entry->run.started = entry->run.ended;
    }
    waiting_.push_back({std::move(*entry), loop_.tickMs()});
    writeWaiting();
}

void HistoryRecorder::flush() {
    while (!waiting_.empty()) {
        Delay(loop_, kHistoryRetryMs);
        writeWaiting();
    }
}

void HistoryRecorder::writeWaiting() {
    while (!waiting_.empty()) {
        const Waiting& next = waiting_.front();
        if (store_.add(next.entry) != HistoryStore::Write::Busy) {
            // Written, or failed with its own line already.
            waiting_.pop_front();
            continue;
        }
        if (loop_.tickMs() - next.sinceMs < kHistoryLockWaitMs) {
            break;
        }
        note_("history: " + store_.path() + " is held by another program; the run of " +
              shortDateTime(next.entry.run.started) + " is not recorded.");
        waiting_.pop_front();
    }
    const bool wanted = !waiting_.empty();
    if (retry_->enabled() != wanted) {
        retry_->setEnabled(wanted);
    }
}

}  // namespace k9
