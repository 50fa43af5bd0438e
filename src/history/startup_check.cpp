#include "history/startup_check.h"

#include "history/history_store.h"
#include "history/update_check.h"
#include "platform/event_loop.h"
#include "platform/main_view.h"
#include "transfer/cftp.h"

namespace k9 {

StartupCheck::StartupCheck(EventLoop& loop, HistoryStore& store, MainView& view,
                           std::string ftpHost)
    : loop_(loop),
      store_(store),
      view_(view),
      ftpHost_(std::move(ftpHost)),
      timer_(loop.makeTimer([this] { check(); })) {}

StartupCheck::~StartupCheck() {
    cancel();
}

void StartupCheck::start(std::int32_t delayMs) {
    if (cancelled_ || running_) {
        return;
    }
    timer_->setInterval(delayMs);
    timer_->setEnabled(true);
}

void StartupCheck::cancel() {
    cancelled_ = true;
    timer_->setEnabled(false);
    if (const auto ftp = ftp_.lock()) {
        // The call waiting inside the check fails at once and the check unwinds.
        ftp->CloseConnection();
    }
}

void StartupCheck::runStarted(const RunStart&) {
    cancel();
    if (shown_) {
        view_.setStatusAside("");
        shown_ = false;
    }
}

void StartupCheck::check() {
    timer_->setEnabled(false);
    if (cancelled_ || running_) {
        return;
    }
    running_ = true;
    std::vector<UnitCheck> newer;
    for (const std::string& serial : store_.units()) {
        auto last = store_.lastUpdate(serial);
        if (!last) {
            continue;  // never updated here: nothing to compare with
        }
        const std::string file = last->run.remoteFile;
        const auto ftp = std::make_shared<cFTP>(loop_, kSettings);
        ftp_ = ftp;
        const UnitCheck c =
            checkUnit(*ftp, ftpHost_, serial, file, std::move(last), [this] { return cancelled_; });
        if (cancelled_) {
            break;
        }
        if (c.verdict == UnitCheck::Verdict::UpdateWaits) {
            newer.push_back(c);
        }
    }
    running_ = false;
    finished_ = true;
    if (cancelled_) {
        return;
    }
    waiting_.clear();
    for (const UnitCheck& c : newer) {
        waiting_.push_back(c.serial);
    }
    if (!newer.empty()) {
        view_.setStatusAside(waitingText(newer));
        shown_ = true;
    }
}

std::string waitingText(const std::vector<UnitCheck>& checks) {
    auto title = [](const UnitCheck& c) { return fileTitle(c.remoteFile); };
    if (checks.size() == 1) {
        const UnitCheck& c = checks.front();
        return "A newer " + title(c) + " database waits on the server for " + c.serial + ".";
    }
    std::string units;
    for (std::size_t i = 0; i < checks.size(); ++i) {
        units += (i == 0                   ? ""
                  : i + 1 == checks.size() ? " and "
                                           : ", ") +
                 checks[i].serial + " (" + title(checks[i]) + ")";
    }
    return "Newer databases wait on the server for " + units + ".";
}

}  // namespace k9
