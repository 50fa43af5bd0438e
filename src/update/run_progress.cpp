#include "update/run_progress.h"

#include <algorithm>

namespace k9 {
namespace {

// Where each stage begins on the way to 100, and where the next one takes over.
int stageFloor(Stage stage) {
    switch (stage) {
        case Stage::WaitSerial:
            return 0;
        case Stage::WaitPassword:
        case Stage::WaitFilePath:
            return 5;
        case Stage::WaitGet:
        case Stage::Download:
            return 10;
        case Stage::SendFile:
            return 25;
        case Stage::WaitOffer:
            return 75;
        case Stage::ReceiveLocations:
            return 95;
        case Stage::Finished:
            break;
    }
    return 100;
}

int share(std::int64_t part, std::int64_t whole, int span) {
    if (whole <= 0) {
        return span;
    }
    return static_cast<int>(std::clamp<std::int64_t>(part, 0, whole) * span / whole);
}

}  // namespace

void RunProgress::reset() {
    running_ = true;
    percent_ = 0;
    stage_ = Stage::WaitSerial;
    stageStartMs_ = clock_();
    offerWaitMs_ = 0;
    transfer_ = {};
    sent_ = total_ = 0;
}

void RunProgress::raise(int percent) {
    percent_ = std::max(percent_, std::min(percent, 100));
}

void RunProgress::stageEntered(Stage stage) {
    stage_ = stage;
    stageStartMs_ = clock_();
    if (stage != Stage::WaitOffer) {
        offerWaitMs_ = 0;
    }
    raise(stageFloor(stage));
}

void RunProgress::transfer(const TransferProgress& progress) {
    transfer_ = progress;
    if (progress.download) {
        raise(10 + share(progress.bytes, progress.total, 15));
    } else {
        raise(95 + share(progress.bytes, progress.total, 5));
    }
}

void RunProgress::linesSent(std::int32_t sent, std::int32_t total) {
    sent_ = sent;
    total_ = total;
    raise(25 + share(sent, total, 50));
}

void RunProgress::offerWait(std::int64_t waitMs) {
    offerStartMs_ = clock_();
    offerWaitMs_ = waitMs;
}

void RunProgress::runEnded(const RunRecord& record) {
    running_ = false;
    offerWaitMs_ = 0;
    if (record.end == RunEnd::Updated) {
        raise(100);
    }
}

int RunProgress::percent() const {
    if (offerWaitMs_ > 0 && stage_ == Stage::WaitOffer) {
        return std::max(percent_, 75 + share(clock_() - offerStartMs_, offerWaitMs_, 20));
    }
    return percent_;
}

std::int64_t RunProgress::offerLeftMs() const {
    if (offerWaitMs_ <= 0 || stage_ != Stage::WaitOffer) {
        return 0;
    }
    return std::max<std::int64_t>(0, offerStartMs_ + offerWaitMs_ - clock_());
}

}  // namespace k9
