#include "update/run_events.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace k9 {

void RunEvents::add(RunObserver& observer) {
    observers_.push_back(&observer);
}

void RunEvents::remove(RunObserver& observer) {
    std::erase(observers_, &observer);
}

template <typename Call>
void RunEvents::each(const Call& call) {
    // A copy: an observer may add or remove observers while it runs.
    const std::vector<RunObserver*> now = observers_;
    for (RunObserver* observer : now) {
        if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
            continue;
        }
        try {
            call(*observer);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "k9updater: a run observer failed: %s\n", e.what());
        }
    }
}

void RunEvents::runStarted(const RunStart& start) {
    each([&](RunObserver& o) { o.runStarted(start); });
}
void RunEvents::runRestarted() {
    each([&](RunObserver& o) { o.runRestarted(); });
}
void RunEvents::portOpened(int port) {
    each([&](RunObserver& o) { o.portOpened(port); });
}
void RunEvents::stageEntered(Stage stage) {
    each([&](RunObserver& o) { o.stageEntered(stage); });
}
void RunEvents::checkTick(std::int16_t retryCount) {
    each([&](RunObserver& o) { o.checkTick(retryCount); });
}
void RunEvents::serialNumberReceived(const std::string& serial) {
    each([&](RunObserver& o) { o.serialNumberReceived(serial); });
}
void RunEvents::sessionOpened(const SessionInfo& info) {
    each([&](RunObserver& o) { o.sessionOpened(info); });
}
void RunEvents::transfer(const TransferProgress& progress) {
    each([&](RunObserver& o) { o.transfer(progress); });
}
void RunEvents::linesSent(std::int32_t sent, std::int32_t total) {
    each([&](RunObserver& o) { o.linesSent(sent, total); });
}
void RunEvents::offerWait(std::int64_t waitMs) {
    each([&](RunObserver& o) { o.offerWait(waitMs); });
}
void RunEvents::locationsReceived(std::int64_t bytes) {
    each([&](RunObserver& o) { o.locationsReceived(bytes); });
}
void RunEvents::statusShown(const std::string& text) {
    each([&](RunObserver& o) { o.statusShown(text); });
}
void RunEvents::messageShown(const Message& message, MessageAnswer answer) {
    each([&](RunObserver& o) { o.messageShown(message, answer); });
}
void RunEvents::runEnded(const RunRecord& record) {
    each([&](RunObserver& o) { o.runEnded(record); });
}

const char* stageName(Stage stage) {
    switch (stage) {
        case Stage::WaitSerial:
            return "waiting for the unit";
        case Stage::WaitPassword:
        case Stage::WaitFilePath:
        case Stage::WaitGet:
            return "handshake";
        case Stage::Download:
            return "download";
        case Stage::SendFile:
            return "sending";
        case Stage::WaitOffer:
            return "waiting for the unit's answer";
        case Stage::ReceiveLocations:
            return "receiving stored locations";
        case Stage::Finished:
            break;
    }
    return "finishing";
}

}  // namespace k9
