#include "ports/port_refresh.h"

#include "platform/event_loop.h"
#include "platform/main_view.h"
#include "ports/port_discovery.h"

namespace k9 {

PortRefresh::PortRefresh(EventLoop& loop, MainView& view, PortDiscovery& discovery,
                         std::function<std::string()> signature)
    : view_(view), discovery_(discovery), signature_(std::move(signature)) {
    quiet_ = loop.makeTimer([this] { settled(); });
    quiet_->setInterval(kDeviceSettleMs);
    if (signature_) {
        last_ = signature_();
    }
}

PortRefresh::~PortRefresh() = default;

void PortRefresh::devicesChanged() {
    // Each change starts the quiet period again, so a burst rebuilds once.
    quiet_->setEnabled(true);
}

void PortRefresh::settled() {
    quiet_->setEnabled(false);
    if (running_) {
        pending_ = true;
        return;
    }
    refresh();
}

void PortRefresh::runEnded() {
    running_ = false;
    if (pending_) {
        pending_ = false;
        refresh();
    }
}

void PortRefresh::refresh() {
    if (signature_) {
        std::string now = signature_();
        if (now == last_) {
            return;
        }
        last_ = std::move(now);
    }
    const int selected = view_.selectedPort();
    const int keep = chosen_ != 0   ? chosen_
                     : selected < 0 ? 0
                                    : entryPortNumber(view_.portEntry(selected));
    discovery_.rebuild();
    ++rebuilds_;
    for (int i = 0; keep != 0 && i < view_.portCount(); ++i) {
        if (entryPortNumber(view_.portEntry(i)) == keep) {
            view_.selectPort(i);
            discovery_.cboPort_Click();
            return;
        }
    }
    if (chosen_ != 0) {
        view_.selectPort(-1);
        view_.setPortDetail("COM" + std::to_string(chosen_) +
                            " is not plugged in; it is selected again when it comes back.");
    }
}

}  // namespace k9
